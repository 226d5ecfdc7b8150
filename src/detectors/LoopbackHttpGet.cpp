#include "detectors/LoopbackHttpGet.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <algorithm>
#include <cctype>
#include <memory>
#include <qcoro/qcorosignal.h>

namespace varlo {

namespace {

// How much the socket may hold before we take it; the answer cap bounds the rest.
constexpr qint64 socketBufferBytes = 64 * 1024;

// The request is deleted from the event loop: its socket may be inside a signal.
struct DeleteLater
{
    void operator()(QObject* object) const { object->deleteLater(); }
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A decimal number of digits only; nothing on overflow.
std::optional<qint64> decimal(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), isDigit))
        return std::nullopt;
    return text.toLongLong();
}

// A chunk's size line: hex digits, then perhaps ";extensions".
std::optional<qint64> chunkSize(QByteArrayView line)
{
    const qsizetype semicolon = line.indexOf(';');
    const QByteArrayView digits = (semicolon < 0 ? line : line.first(semicolon)).trimmed();
    if (digits.isEmpty() || digits.size() > 15)
        return std::nullopt;
    bool ok = false;
    const qint64 size = digits.toLongLong(&ok, 16);
    // toLongLong also takes a sign or "0x"; a size is bare hex digits.
    if (!ok || !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(uchar(c)); }))
        return std::nullopt;
    return size;
}

// The code of a status line "HTTP/1.x DDD reason".
std::optional<int> statusCode(QByteArrayView line)
{
    if (line.size() < 12 || !line.startsWith("HTTP/1.") || !isDigit(line[7]) || line[8] != ' ' ||
        (line.size() > 12 && line[12] != ' '))
        return std::nullopt;
    const auto code = decimal(line.sliced(9, 3));
    return code ? std::optional<int>(int(*code)) : std::nullopt;
}

bool isRequestTarget(const QByteArray& path)
{
    return path.startsWith('/') &&
           std::all_of(path.begin(), path.end(), [](char c) { return c > ' ' && c < 127; });
}

} // namespace

QCoro::Task<std::optional<QByteArray>> LoopbackHttpGet::get(qint64 port, QByteArray path, Limits limits)
{
    if (port < 1 || port > 65535 || !isRequestTarget(path))
        co_return std::nullopt;
    const std::unique_ptr<LoopbackHttpGet, DeleteLater> request(new LoopbackHttpGet(limits));
    request->start(static_cast<quint16>(port), path);
    if (!request->m_done) {
        // Named: GCC 12 destroys a temporary of a co_await operand twice.
        auto finished = qCoro(request.get(), &LoopbackHttpGet::finished);
        co_await std::move(finished);
    }
    co_return request->m_result;
}

LoopbackHttpGet::LoopbackHttpGet(Limits limits) : m_limits(limits), m_socket(new QTcpSocket(this))
{
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
}

void LoopbackHttpGet::start(quint16 port, const QByteArray& path)
{
    const QByteArray request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                               "\r\nAccept: application/json\r\nConnection: close\r\n\r\n";
    // The agents are local: a configured proxy must not see these requests.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    m_socket->setReadBufferSize(socketBufferBytes);
    connect(m_socket, &QAbstractSocket::connected, this, [this, request] { m_socket->write(request); });
    connect(m_socket, &QIODevice::readyRead, this, &LoopbackHttpGet::receive);
    connect(m_socket, &QAbstractSocket::disconnected, this, &LoopbackHttpGet::closedByServer);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // A close is handled with the data that came before it.
        if (error != QAbstractSocket::RemoteHostClosedError)
            finish(std::nullopt);
    });
    connect(&m_deadline, &QTimer::timeout, this, [this] { finish(std::nullopt); });
    m_deadline.start(m_limits.time);
    m_socket->connectToHost(QHostAddress(QHostAddress::LocalHost), port);
}

void LoopbackHttpGet::receive()
{
    // Never more than one byte past the cap is taken in.
    const QByteArray data = m_socket->read(m_limits.answerBytes - m_received + 1);
    m_received += data.size();
    if (m_received > m_limits.answerBytes)
        return finish(std::nullopt);
    m_pending += data;
    if (!parse())
        finish(std::nullopt);
}

void LoopbackHttpGet::closedByServer()
{
    receive();
    if (m_done)
        return;
    // Only a body without a size ends with the connection.
    finish(m_stage == Stage::bodyToClose ? std::optional<QByteArray>(m_body) : std::nullopt);
}

bool LoopbackHttpGet::parse()
{
    qsizetype at = 0; // parsed so far
    const auto consumed = qScopeGuard([&] { m_pending.remove(0, at); });
    while (!m_done) {
        const QByteArrayView rest = QByteArrayView(m_pending).sliced(at);
        switch (m_stage) {
        case Stage::head: {
            const qsizetype end = rest.indexOf("\r\n\r\n", std::max<qsizetype>(0, m_searchedUpTo - 3));
            if (end < 0) {
                m_searchedUpTo = rest.size();
                return true;
            }
            if (!parseHead(rest.first(end)))
                return false;
            at += end + 4;
            break;
        }
        case Stage::sizedBody: {
            const qsizetype take = qsizetype(std::min<qint64>(m_expected, rest.size()));
            m_body += rest.first(take);
            at += take;
            m_expected -= take;
            if (m_expected == 0)
                finish(m_body);
            return true;
        }
        case Stage::bodyToClose:
            m_body += rest;
            at += rest.size();
            return true;
        case Stage::chunkSize: {
            const qsizetype end = rest.indexOf("\r\n");
            if (end < 0)
                return true;
            const auto size = chunkSize(rest.first(end));
            if (!size || *size > m_limits.answerBytes)
                return false;
            at += end + 2;
            m_expected = *size;
            m_stage = *size == 0 ? Stage::trailer : Stage::chunkData;
            break;
        }
        case Stage::chunkData:
            if (rest.size() < m_expected + 2)
                return true;
            if (rest.sliced(m_expected, 2) != "\r\n")
                return false;
            m_body += rest.first(m_expected);
            at += m_expected + 2;
            m_stage = Stage::chunkSize;
            break;
        case Stage::trailer: {
            const qsizetype end = rest.indexOf("\r\n");
            if (end < 0)
                return true;
            at += end + 2;
            if (end == 0)
                finish(m_body);
            break;
        }
        }
    }
    return true;
}

bool LoopbackHttpGet::parseHead(QByteArrayView head)
{
    qsizetype lineEnd = head.indexOf("\r\n");
    const auto status = statusCode(lineEnd < 0 ? head : head.first(lineEnd));
    // 1xx answers only come to requests that ask for them.
    if (!status || *status < 200)
        return false;
    std::optional<qint64> length;
    bool chunked = false;
    while (lineEnd >= 0) {
        const qsizetype start = lineEnd + 2;
        lineEnd = head.indexOf("\r\n", start);
        const QByteArrayView line = head.sliced(start, (lineEnd < 0 ? head.size() : lineEnd) - start);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || line.first(colon).contains(' ') || line.first(colon).contains('\t'))
            return false;
        const QByteArray name = line.first(colon).toByteArray().toLower();
        const QByteArrayView value = line.sliced(colon + 1).trimmed();
        if (name == "transfer-encoding") {
            // Only chunking is undone here; a compressed body is of no use.
            if (QByteArray(value.toByteArray()).toLower() != "chunked")
                return false;
            chunked = true;
        } else if (name == "content-length") {
            const auto declared = decimal(value);
            if (!declared || (length && *length != *declared))
                return false;
            length = declared;
        }
    }
    if (chunked) {
        m_stage = Stage::chunkSize;
    } else if (*status == 204 || *status == 304 || length) {
        m_expected = *status == 204 || *status == 304 ? 0 : *length;
        if (m_expected > m_limits.answerBytes)
            return false;
        m_stage = Stage::sizedBody;
    } else {
        m_stage = Stage::bodyToClose;
    }
    return true;
}

void LoopbackHttpGet::finish(std::optional<QByteArray> body)
{
    if (m_done)
        return;
    m_done = true;
    m_result = std::move(body);
    m_deadline.stop();
    m_socket->disconnect(this);
    // Closes the connection now: nothing more is read, nothing is left open.
    m_socket->abort();
    m_pending.clear();
    m_body.clear();
    Q_EMIT finished();
}

} // namespace varlo
