#include "app/TrayHostWatcher.h"

#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace varlo {

namespace {
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr int propertyTimeoutMs = 1000;
constexpr auto pollInterval = std::chrono::seconds(1);
} // namespace

TrayHostWatcher::TrayHostWatcher(const QDBusConnection& bus, XEmbedProbe xembedTray, QObject* parent)
    : QObject(parent), m_bus(bus), m_xembedTray(std::move(xembedTray))
{
    m_poll.setInterval(pollInterval);
    connect(&m_poll, &QTimer::timeout, this, &TrayHostWatcher::check);
}

bool TrayHostWatcher::hostExists() const
{
    return (m_xembedTray && m_xembedTray()) || statusNotifierHostRegistered();
}

bool TrayHostWatcher::statusNotifierHostRegistered() const
{
    if (!m_bus.isConnected())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(watcherService), watcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = m_bus.call(get, QDBus::Block, propertyTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

void TrayHostWatcher::watch()
{
    if (m_watching)
        return;
    m_watching = true;
    if (m_bus.isConnected()) {
        m_serviceWatcher = new QDBusServiceWatcher(QString::fromLatin1(watcherService), m_bus,
                                                   QDBusServiceWatcher::WatchForRegistration, this);
        connect(m_serviceWatcher, &QDBusServiceWatcher::serviceRegistered, this, &TrayHostWatcher::check);
        m_bus.connect(QString(), watcherPath, watcherInterface, QStringLiteral("StatusNotifierHostRegistered"),
                      this, SLOT(check()));
    }
    if (m_xembedTray)
        m_poll.start();
    check();
}

void TrayHostWatcher::check()
{
    if (!m_watching || !hostExists())
        return;
    m_watching = false;
    m_poll.stop();
    delete m_serviceWatcher;
    m_serviceWatcher = nullptr;
    m_bus.disconnect(QString(), watcherPath, watcherInterface, QStringLiteral("StatusNotifierHostRegistered"),
                     this, SLOT(check()));
    Q_EMIT hostAppeared();
}

} // namespace varlo
