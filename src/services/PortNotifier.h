#pragma once

#include "monitor/PortEntry.h"

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

class QDBusMessage;

namespace varlo {

// Desktop notifications for newly listening ports, through the freedesktop
// notification service on the session bus. Whether a service is there stands
// in for the user's permission: present is authorized, absent is denied.
class PortNotifier : public QObject
{
    Q_OBJECT

public:
    // The numbers are the ones logged and compared; keep them.
    enum class AuthorizationStatus : qint64
    {
        notDetermined = 0,
        denied = 1,
        authorized = 2,
        provisional = 3,
        ephemeral = 4,
    };

    struct AuthorizationAnswer
    {
        bool granted = false;
        std::optional<QString> error;
    };

    using Completion = std::function<void(bool)>;

    explicit PortNotifier(QObject* parent = nullptr); // the session bus
    explicit PortNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    // Posts one notification per entry, in list order; results only reach the log.
    void notify(const QList<PortEntry>& entries);
    // Completions always run later from the event loop, never inside these calls.
    void ensureAuthorization(Completion completion);
    void checkDenied(Completion completion);
    void logAuthorizationAtStartup();

    // Bounds every bus call, so a stuck service cannot leave work pending forever.
    void setCallTimeout(std::chrono::milliseconds timeout) { m_callTimeout = timeout; }
    std::chrono::milliseconds callTimeout() const { return m_callTimeout; }

    static QString title();
    static QString body(const PortEntry& entry);
    static QString identifier(const PortEntry& entry); // "port-3000-4242"

Q_SIGNALS:
    // The user clicked a notification this notifier posted.
    void notificationActivated(const QString& identifier);

protected:
    // Overridable for platforms (and tests) where the answer can be "not determined".
    // Implementations must not touch the notifier after their first suspension.
    virtual QCoro::Task<AuthorizationStatus> authorizationStatus();
    virtual QCoro::Task<AuthorizationAnswer> requestAuthorization();

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& actionKey, const QDBusMessage& message);
    void onNotificationClosed(uint id, uint reason, const QDBusMessage& message);
    void onServiceOwnerChanged(const QString& service, const QString& oldOwner, const QString& newOwner);

private:
    struct Posted
    {
        uint id = 0;    // 0 until the server has answered
        QString server; // unique bus name of the server that issued `id`
        bool inFlight = false;
        std::optional<PortEntry> again; // asked for while in flight; posted when the call ends
    };

    QCoro::Task<void> post(PortEntry entry);
    QCoro::Task<void> runEnsureAuthorization(Completion completion);
    QCoro::Task<void> runCheckDenied(Completion completion);
    QCoro::Task<void> runStartupCheck();
    QCoro::Task<bool> requestAndLog();
    QString identifierFor(uint id, const QString& server) const;

    QDBusConnection m_bus;
    std::chrono::milliseconds m_callTimeout{5000};
    QHash<QString, Posted> m_posted; // by identifier
};

} // namespace varlo
