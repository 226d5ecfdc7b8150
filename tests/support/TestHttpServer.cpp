#include "TestHttpServer.h"

#include <QTimer>
#include <memory>

namespace varlo::test {

namespace {

// No test needs more: a client that keeps reading past this has no limit.
constexpr qint64 maxBytesPerConnection = 256LL * 1024 * 1024;

} // namespace

TestHttpServer::TestHttpServer(QByteArray path, Behaviour behaviour, QByteArray answer, quint16 port)
    : m_path(std::move(path)), m_behaviour(behaviour), m_answer(std::move(answer))
{
    listen(QHostAddress::LocalHost, port);
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = nextPendingConnection()) {
            m_connections.append(socket);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                // The whole request is one small packet on loopback.
                if (socket->property("served").toBool())
                    return;
                socket->setProperty("served", true);
                if (socket->readAll().startsWith("GET " + m_path + " HTTP/1.1\r\n"))
                    serve(socket);
                else
                    socket->disconnectFromHost();
            });
        }
    });
}

int TestHttpServer::openConnections() const
{
    int open = 0;
    for (const QPointer<QTcpSocket>& socket : m_connections)
        open += socket && socket->state() == QAbstractSocket::ConnectedState;
    return open;
}

void TestHttpServer::serve(QTcpSocket* socket)
{
    switch (m_behaviour) {
    case Behaviour::answerAndClose:
        m_sent += socket->write(m_answer);
        socket->disconnectFromHost();
        break;
    case Behaviour::answer:
        m_sent += socket->write(m_answer);
        break;
    case Behaviour::silent:
        break;
    case Behaviour::trickle: {
        auto* timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [this, socket, timer, next = qsizetype(0)]() mutable {
            if (next == m_answer.size())
                return timer->stop();
            m_sent += socket->write(m_answer.mid(next++, 1));
        });
        timer->start(50);
        break;
    }
    case Behaviour::floodHeaders:
        m_sent += socket->write("HTTP/1.1 200 OK\r\n");
        keepSending(socket, QByteArray(1000, 'a').prepend("X-A: ").append("\r\n").repeated(64));
        break;
    case Behaviour::endlessBody:
        m_sent += socket->write(m_answer);
        keepSending(socket, QByteArray(64 * 1024, ' '));
        break;
    }
}

void TestHttpServer::keepSending(QTcpSocket* socket, const QByteArray& block)
{
    auto sentHere = std::make_shared<qint64>(0);
    const auto more = [this, socket, block, sentHere] {
        if (socket->state() != QAbstractSocket::ConnectedState || *sentHere > maxBytesPerConnection ||
            socket->bytesToWrite() > 0)
            return;
        const qint64 written = socket->write(block);
        *sentHere += written;
        m_sent += written;
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}

} // namespace varlo::test
