#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

namespace varlo {

// One Varlo per session: the first process owns app.varlo.Varlo on the session
// bus and answers org.freedesktop.Application; a later one asks it to activate.
class SingleInstance : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    enum class Claim
    {
        first,   // this process is Varlo
        running, // another process already is
        noBus,   // no session bus: no guard
    };

    static constexpr const char* serviceName = "app.varlo.Varlo";
    static constexpr const char* objectPath = "/app/varlo/Varlo";

    explicit SingleInstance(const QDBusConnection& bus, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Exports the interface, then takes the name, so a caller that sees the
    // name can always reach the interface.
    Claim claim();
    // Activates the running instance, passing on this launch's activation token.
    // False with a reason when it did not answer.
    static bool activateRunning(const QDBusConnection& bus, QString* error);

public Q_SLOTS:
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);
    Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap& platformData);
    Q_SCRIPTABLE void ActivateAction(const QString& actionName, const QVariantList& parameter,
                                     const QVariantMap& platformData);

Q_SIGNALS:
    // `activationToken` lets the window take focus on Wayland; empty when none came.
    void activated(const QString& activationToken);

private:
    QDBusConnection m_bus;
    bool m_exported = false;
    bool m_owner = false;
};

} // namespace varlo
