#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QThread>
#include <csignal>
#include <memory>
#include <vector>

namespace varlo::test {

QList<quint16> freeLoopbackPorts(int count)
{
    // Hold every server until all are bound, so the ports are distinct.
    std::vector<std::unique_ptr<QTcpServer>> servers;
    QList<quint16> ports;
    for (int i = 0; i < count; ++i) {
        auto server = std::make_unique<QTcpServer>();
        if (!server->listen(QHostAddress::LocalHost, 0))
            qFatal("cannot find a free loopback port");
        ports.append(server->serverPort());
        servers.push_back(std::move(server));
    }
    return ports;
}

QString listenerProgram()
{
    return QStringLiteral(VARLO_TEST_LISTENER);
}

TestListener::~TestListener()
{
    if (!m_process)
        return;
    // Closing its input makes the helper exit; its workers die with it.
    m_process->closeWriteChannel();
    if (!m_process->waitForFinished(3000)) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
    // A worker whose parent was killed first has been re-parented; end it too.
    for (qint64 worker : std::as_const(m_workers)) {
        if (worker > 1 && isAlive(worker))
            ::kill(static_cast<pid_t>(worker), SIGKILL);
    }
}

bool TestListener::start(const QList<quint16>& ports, const Options& options)
{
    QStringList arguments;
    if (options.workers > 0)
        arguments << QStringLiteral("--workers") << QString::number(options.workers);
    if (options.ignoreTerm)
        arguments << QStringLiteral("--ignore-term");
    if (options.reusePort)
        arguments << QStringLiteral("--reuseport");
    if (options.ipv6)
        arguments << QStringLiteral("--ipv6");
    if (options.bothFamilies)
        arguments << QStringLiteral("--both");
    if (!options.workingDirectory.isEmpty())
        arguments << QStringLiteral("--cwd") << options.workingDirectory;
    if (!options.name.isEmpty())
        arguments << QStringLiteral("--name") << QString::fromUtf8(options.name);
    for (quint16 port : ports)
        arguments << QString::number(port);
    if (options.proxyArguments && !ports.isEmpty()) {
        arguments = QStringList{"-proto",        "tcp",      "-host-ip",    "127.0.0.1",
                                "-host-port",    QString::number(ports.constFirst()),
                                "-container-ip", "172.17.0.2", "-container-port", "80"};
    }

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(options.program.isEmpty() ? listenerProgram() : options.program, arguments);
    if (!m_process->waitForStarted(5000))
        return false;

    QDeadlineTimer deadline(10000);
    QByteArray pending;
    while (!deadline.hasExpired()) {
        if (!m_process->canReadLine() &&
            !m_process->waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return false;
        while (m_process->canReadLine()) {
            const QByteArray line = m_process->readLine().trimmed();
            if (line.startsWith("pid "))
                m_pid = line.mid(4).toLongLong();
            else if (line.startsWith("worker "))
                m_workers.append(line.mid(7).toLongLong());
            else if (line == "ready")
                return m_pid > 1;
        }
    }
    return false;
}

QList<qint64> TestListener::allPids() const
{
    QList<qint64> pids{m_pid};
    pids.append(m_workers);
    return pids;
}

bool TestListener::isAlive(qint64 pid)
{
    if (pid <= 1)
        return false;
    // A zombie still answers kill(0); look at its state instead.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && close + 2 < text.size() && text.at(close + 2) != 'Z';
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    QDeadlineTimer deadline(limit);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

} // namespace varlo::test
