#pragma once

#include "services/hotkey/HotkeyBackend.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <optional>

class QDBusMessage;
class QDBusObjectPath;

namespace varlo {

// One entry of BindShortcuts' a(sa{sv}) argument and of its results.
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

// Binds the shortcut through the desktop portal's GlobalShortcuts interface,
// the only way a Wayland client is told of a key pressed elsewhere. The stored
// combo is offered as the preferred trigger; the desktop may ask the user or
// pick another one.
class PortalHotkeyBackend final : public QObject, public HotkeyBackend
{
    Q_OBJECT

public:
    // Null unless the portal on `bus` answers for GlobalShortcuts within a short wait.
    static std::unique_ptr<PortalHotkeyBackend> create(const QDBusConnection& bus);

    explicit PortalHotkeyBackend(const QDBusConnection& bus);
    ~PortalHotkeyBackend() override;

    void installListener(std::function<void()> onPressed) override;
    void removeListener() override;
    // Grabbed once the request is on its way; see the comment in the source.
    GrabResult grab(const KeyCombo& combo, QString* detail) override;
    void release() override;

    // The combo in the shortcuts format the portal expects ("CTRL+ALT+k");
    // absent for a key code without a name.
    static std::optional<QString> preferredTrigger(const KeyCombo& combo);

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap& results, const QDBusMessage& message);
    void onActivated(const QDBusObjectPath& session, const QString& shortcutId, qulonglong timestamp,
                     const QVariantMap& options);

private:
    enum class Pending
    {
        none,
        session,
        binding,
    };

    QString sendRequest(const QString& method, const QVariantList& arguments, const QString& token);
    void stopWaiting(const QString& requestPath);
    void bindShortcut();
    void closeSession(const QString& session);
    void refuse(const QString& why);

    QDBusConnection m_bus;
    std::function<void()> m_onPressed;
    QString m_trigger;       // empty when nothing is grabbed
    QString m_session;       // the live session's object path
    QString m_requestPath;   // the request whose Response is awaited
    Pending m_pending = Pending::none;
    QStringList m_abandoned; // session requests released before their answer
};

} // namespace varlo

Q_DECLARE_METATYPE(varlo::PortalShortcut)
