#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <optional>
#include <qcoro/qcorotask.h>

class QTcpSocket;

namespace varlo {

// One HTTP/1.1 GET to a port on 127.0.0.1, for the small JSON documents local
// agents serve. The whole answer (status line, headers and body) is capped in
// bytes and the whole exchange in time. Past either limit, on a connection
// error or on anything that is not HTTP, the connection is closed at once and
// there is no answer. The status code is not examined. Bodies may be sized by
// Content-Length, chunked, or end with the connection.
//
// Runs on the calling thread, which needs an event loop.
class LoopbackHttpGet : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        qint64 answerBytes;
        std::chrono::milliseconds time;
    };

    // The body, or nothing.
    static QCoro::Task<std::optional<QByteArray>> get(qint64 port, QByteArray path, Limits limits);

Q_SIGNALS:
    void finished();

private:
    enum class Stage
    {
        head,
        sizedBody,
        bodyToClose,
        chunkSize,
        chunkData,
        trailer,
    };

    explicit LoopbackHttpGet(Limits limits);

    void start(quint16 port, const QByteArray& path);
    void receive();
    void closedByServer();
    // Works through what has arrived; false when it cannot be HTTP.
    bool parse();
    bool parseHead(QByteArrayView head);
    void finish(std::optional<QByteArray> body);

    const Limits m_limits;
    QTcpSocket* m_socket;
    QTimer m_deadline;
    qint64 m_received = 0;
    QByteArray m_pending; // arrived, not yet parsed
    qsizetype m_searchedUpTo = 0;
    Stage m_stage = Stage::head;
    qint64 m_expected = 0; // body or chunk bytes still to come
    QByteArray m_body;
    bool m_done = false;
    std::optional<QByteArray> m_result;
};

} // namespace varlo
