#include "app/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace varlo {

namespace {
constexpr int activateTimeoutMs = 5000;
} // namespace

SingleInstance::SingleInstance(const QDBusConnection& bus, QObject* parent) : QObject(parent), m_bus(bus) {}

SingleInstance::~SingleInstance()
{
    if (m_owner)
        m_bus.unregisterService(QString::fromLatin1(serviceName));
    if (m_exported)
        m_bus.unregisterObject(QString::fromLatin1(objectPath));
}

SingleInstance::Claim SingleInstance::claim()
{
    if (!m_bus.isConnected())
        return Claim::noBus;
    m_exported = m_bus.registerObject(QString::fromLatin1(objectPath), this,
                                      QDBusConnection::ExportScriptableSlots);
    m_owner = m_bus.registerService(QString::fromLatin1(serviceName));
    if (m_owner)
        return Claim::first;
    return Claim::running;
}

bool SingleInstance::activateRunning(const QDBusConnection& bus, QString* error)
{
    QVariantMap platformData;
    // What a launcher hands a starting program so the running one may take focus.
    const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    if (!token.isEmpty())
        platformData.insert(QStringLiteral("activation-token"), token);
    const QString startupId = qEnvironmentVariable("DESKTOP_STARTUP_ID");
    if (!startupId.isEmpty())
        platformData.insert(QStringLiteral("desktop-startup-id"), startupId);

    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(serviceName),
                                                       QString::fromLatin1(objectPath),
                                                       QStringLiteral("org.freedesktop.Application"),
                                                       QStringLiteral("Activate"));
    call << platformData;
    const QDBusMessage reply = bus.call(call, QDBus::Block, activateTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = reply.errorMessage();
    return false;
}

void SingleInstance::Activate(const QVariantMap& platformData)
{
    Q_EMIT activated(platformData.value(QStringLiteral("activation-token")).toString());
}

void SingleInstance::Open(const QStringList&, const QVariantMap& platformData)
{
    Activate(platformData);
}

void SingleInstance::ActivateAction(const QString&, const QVariantList&, const QVariantMap& platformData)
{
    Activate(platformData);
}

} // namespace varlo
