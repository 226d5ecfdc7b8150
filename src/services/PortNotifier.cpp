#include "services/PortNotifier.h"

#include "monitor/Log.h"
#include "services/AppId.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QTimer>
#include <QVariantMap>
#include <coroutine>
#include <qcoro/qcorodbus.h>
#include <utility>

namespace varlo {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kDefaultAction = QStringLiteral("default");
const QString kAppName = QStringLiteral("Varlo");
const QString kDesktopEntry = QString::fromLatin1(appId);

// Callers may react by touching state they are still setting up; run them on a later turn.
void completeLater(PortNotifier::Completion completion, bool value)
{
    if (!completion)
        return;
    QTimer::singleShot(0, [completion = std::move(completion), value] { completion(value); });
}

QString errorText(const QDBusMessage& reply)
{
    if (reply.type() == QDBusMessage::ErrorMessage && !reply.errorMessage().isEmpty())
        return reply.errorMessage();
    if (reply.type() == QDBusMessage::ErrorMessage && !reply.errorName().isEmpty())
        return reply.errorName();
    return QStringLiteral("unexpected reply from the notification service");
}

std::optional<uint> notificationId(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return std::nullopt;
    const QVariant value = reply.arguments().constFirst();
    if (value.metaType() != QMetaType::fromType<uint>())
        return std::nullopt;
    return value.toUInt();
}

long long number(PortNotifier::AuthorizationStatus status)
{
    return static_cast<long long>(status);
}

} // namespace

PortNotifier::PortNotifier(QObject* parent) : PortNotifier(QDBusConnection::sessionBus(), parent) {}

PortNotifier::PortNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    // No sender filter in the match (that would cost a blocking owner lookup); each
    // signal is checked against the server that issued the id instead.
    m_bus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString, QDBusMessage)));
    m_bus.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint, QDBusMessage)));
    auto* watcher = new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &PortNotifier::onServiceOwnerChanged);
}

QString PortNotifier::title()
{
    return QStringLiteral("Port opened");
}

QString PortNotifier::body(const PortEntry& entry)
{
    return entry.processName + QStringLiteral(" started on :") + QString::number(entry.port);
}

QString PortNotifier::identifier(const PortEntry& entry)
{
    return QStringLiteral("port-%1-%2").arg(entry.port).arg(entry.pid);
}

void PortNotifier::notify(const QList<PortEntry>& entries)
{
    for (const PortEntry& entry : entries)
        post(entry);
}

void PortNotifier::ensureAuthorization(Completion completion)
{
    runEnsureAuthorization(std::move(completion));
}

void PortNotifier::checkDenied(Completion completion)
{
    runCheckDenied(std::move(completion));
}

void PortNotifier::logAuthorizationAtStartup()
{
    runStartupCheck();
}

QCoro::Task<void> PortNotifier::post(PortEntry entry)
{
    const QString key = identifier(entry);
    {
        Posted& slot = m_posted[key];
        // Without the first id a second Notify would stack a duplicate; send it once the first is answered.
        if (slot.inFlight) {
            slot.again = std::move(entry);
            co_return;
        }
        slot.inFlight = true;
    }

    QPointer<PortNotifier> self(this);
    const QDBusConnection bus = m_bus;
    const int timeout = static_cast<int>(m_callTimeout.count());
    const QStringList actions{kDefaultAction, tr("Open")};
    // No sound-suppressing hint: the server's own sound stands in for the default one.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), kDesktopEntry}};

    for (;;) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
        call << kAppName << self->m_posted.value(key).id << QString() << title() << body(entry) << actions
             << hints << qint32(-1);
        const QDBusPendingCall pending = bus.asyncCall(call, timeout);
        const QDBusMessage reply = co_await pending;
        if (!self)
            co_return;

        auto it = self->m_posted.find(key);
        if (it == self->m_posted.end()) // cannot happen while in flight; stay safe anyway
            co_return;
        if (const auto id = notificationId(reply)) {
            it->id = *id;
            it->server = reply.service();
            qCDebug(lcNotify, "notification scheduled for :%lld pid=%lld", entry.port, entry.pid);
        } else {
            qCCritical(lcNotify, "failed to schedule notification for :%lld: %s", entry.port,
                       qUtf8Printable(errorText(reply)));
        }
        if (!it->again) {
            it->inFlight = false;
            if (it->id == 0)
                self->m_posted.erase(it);
            co_return;
        }
        entry = *std::exchange(it->again, std::nullopt);
    }
}

QCoro::Task<PortNotifier::AuthorizationStatus> PortNotifier::authorizationStatus()
{
    const QDBusConnection bus = m_bus;
    const int timeout = static_cast<int>(m_callTimeout.count());
    if (!bus.isConnected())
        co_return AuthorizationStatus::denied;

    const auto ask = [&](const QString& method) {
        return QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, method);
    };
    const QDBusPendingCall owned = bus.asyncCall(ask(QStringLiteral("NameHasOwner")) << kService, timeout);
    const QDBusMessage ownedReply = co_await owned;
    if (ownedReply.type() == QDBusMessage::ReplyMessage && !ownedReply.arguments().isEmpty() &&
        ownedReply.arguments().constFirst().toBool())
        co_return AuthorizationStatus::authorized;

    // Many desktops start their notification server on demand.
    const QDBusPendingCall activatable = bus.asyncCall(ask(QStringLiteral("ListActivatableNames")), timeout);
    const QDBusMessage activatableReply = co_await activatable;
    if (activatableReply.type() == QDBusMessage::ReplyMessage && !activatableReply.arguments().isEmpty() &&
        activatableReply.arguments().constFirst().toStringList().contains(kService))
        co_return AuthorizationStatus::authorized;
    co_return AuthorizationStatus::denied;
}

QCoro::Task<PortNotifier::AuthorizationAnswer> PortNotifier::requestAuthorization()
{
    // There is no prompt here: a notification service either is on the bus or is not.
    const AuthorizationStatus status = co_await authorizationStatus();
    co_return AuthorizationAnswer{status == AuthorizationStatus::authorized, std::nullopt};
}

QCoro::Task<bool> PortNotifier::requestAndLog()
{
    const AuthorizationAnswer answer = co_await requestAuthorization();
    if (answer.error) {
        qCCritical(lcNotify, "authorization request failed: %s", qUtf8Printable(*answer.error));
        co_return false;
    }
    qCInfo(lcNotify, "authorization granted=%s", answer.granted ? "true" : "false");
    co_return answer.granted;
}

QCoro::Task<void> PortNotifier::runEnsureAuthorization(Completion completion)
{
    QPointer<PortNotifier> self(this);
    const AuthorizationStatus status = co_await authorizationStatus();
    if (!self) {
        completeLater(std::move(completion), false);
        co_return;
    }
    switch (status) {
    case AuthorizationStatus::authorized:
    case AuthorizationStatus::provisional:
        completeLater(std::move(completion), true);
        break;
    case AuthorizationStatus::notDetermined: {
        const bool granted = co_await self->requestAndLog();
        completeLater(std::move(completion), granted);
        break;
    }
    case AuthorizationStatus::denied:
        qCInfo(lcNotify, "authorization previously denied — skipping request");
        completeLater(std::move(completion), false);
        break;
    case AuthorizationStatus::ephemeral:
        completeLater(std::move(completion), false);
        break;
    }
}

QCoro::Task<void> PortNotifier::runCheckDenied(Completion completion)
{
    const AuthorizationStatus status = co_await authorizationStatus();
    completeLater(std::move(completion), status == AuthorizationStatus::denied);
}

QCoro::Task<void> PortNotifier::runStartupCheck()
{
    QPointer<PortNotifier> self(this);
    const AuthorizationStatus status = co_await authorizationStatus();
    if (!self)
        co_return;
    qCDebug(lcNotify, "auth status on startup: %lld", number(status));
    if (status == AuthorizationStatus::notDetermined)
        co_await self->requestAndLog();
}

QString PortNotifier::identifierFor(uint id, const QString& server) const
{
    for (auto it = m_posted.cbegin(); it != m_posted.cend(); ++it) {
        if (it->id == id && it->server == server)
            return it.key();
    }
    return {};
}

void PortNotifier::onActionInvoked(uint id, const QString& actionKey, const QDBusMessage& message)
{
    if (actionKey != kDefaultAction || id == 0)
        return;
    const QString key = identifierFor(id, message.service());
    if (!key.isEmpty())
        Q_EMIT notificationActivated(key);
}

void PortNotifier::onNotificationClosed(uint id, uint /*reason*/, const QDBusMessage& message)
{
    const QString key = identifierFor(id, message.service());
    if (key.isEmpty())
        return;
    auto it = m_posted.find(key);
    if (it->inFlight)
        it->id = 0; // the pending call records the next id
    else
        m_posted.erase(it);
}

void PortNotifier::onServiceOwnerChanged(const QString& /*service*/, const QString& oldOwner,
                                         const QString& /*newOwner*/)
{
    if (oldOwner.isEmpty())
        return;
    // A new server knows nothing of the old one's ids.
    for (auto it = m_posted.begin(); it != m_posted.end();) {
        if (it->server != oldOwner) {
            ++it;
        } else if (it->inFlight) {
            it->id = 0;
            ++it;
        } else {
            it = m_posted.erase(it);
        }
    }
}

} // namespace varlo
