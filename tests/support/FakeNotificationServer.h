#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace varlo::test {

// A notification server on its own connection to the test's private bus.
QString notificationsService();
QString notificationsPath();

class FakeServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    enum class Mode
    {
        answer,
        fail,
        silent
    };
    struct Call
    {
        QString appName;
        uint replacesId = 0;
        QString appIcon, summary, body;
        QStringList actions;
        QVariantMap hints;
        int timeout = 0;
        uint returnedId = 0;
    };

    explicit FakeServer(const QString& name)
        : m_name(name), m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name))
    {
    }
    ~FakeServer() override
    {
        m_bus.unregisterObject(notificationsPath());
        QDBusConnection::disconnectFromBus(m_name);
    }
    bool start()
    {
        return m_bus.registerObject(notificationsPath(), this, QDBusConnection::ExportAllSlots) &&
               m_bus.registerService(notificationsService());
    }
    void emitSignal(const QString& name, const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(notificationsPath(), notificationsService(), name);
        signal.setArguments(arguments);
        m_bus.send(signal);
    }

    Mode mode = Mode::answer;
    QList<Call> calls;

public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout,
                const QDBusMessage& message)
    {
        const uint id = replacesId != 0 ? replacesId : ++m_lastId;
        calls.append({appName, replacesId, appIcon, summary, body, actions, hints, timeout, id});
        if (mode != Mode::answer) {
            message.setDelayedReply(true);
            if (mode == Mode::fail)
                m_bus.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("server refused")));
        }
        return id;
    }

private:
    QString m_name;
    QDBusConnection m_bus;
    uint m_lastId = 40;
};

} // namespace varlo::test
