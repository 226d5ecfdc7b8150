#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace varlo::test {

// A loopback HTTP server that answers a GET of `path` as a test scripts it,
// well or badly. Any other request is closed unanswered. Everything it sends
// is bounded, and it stops sending once the client has gone.
class TestHttpServer : public QTcpServer
{
public:
    enum class Behaviour
    {
        answerAndClose, // sends `answer`, then closes
        answer,         // sends `answer`, keeps the connection open
        silent,         // reads the request, never answers
        trickle,        // sends `answer` one byte every 50 ms
        floodHeaders,   // a status line, then header lines without end
        endlessBody,    // `answer` as the head, then body bytes without end
    };

    TestHttpServer(QByteArray path, Behaviour behaviour, QByteArray answer = {}, quint16 port = 0);

    // Connections the client has not closed yet.
    int openConnections() const;
    qint64 bytesSent() const { return m_sent; }

private:
    void serve(QTcpSocket* socket);
    void keepSending(QTcpSocket* socket, const QByteArray& block);

    QByteArray m_path;
    Behaviour m_behaviour;
    QByteArray m_answer;
    qint64 m_sent = 0;
    QList<QPointer<QTcpSocket>> m_connections;
};

} // namespace varlo::test
