#include "services/hotkey/portal/PortalHotkeyBackend.h"

#include "services/hotkey/KeyTranslation.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <atomic>

namespace varlo {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString shortcutId = QStringLiteral("toggle-panel");
// A portal started on demand answers well within this; the probe runs once at launch.
constexpr int probeTimeoutMs = 1000;

// Unique in the process, since request and session paths are per connection.
const char* responseSlot()
{
    return SLOT(onResponse(uint, QVariantMap, QDBusMessage));
}

QString nextToken()
{
    static std::atomic<quint32> counter{0};
    return QStringLiteral("varlo%1").arg(++counter);
}

// xkbcommon's keysym names of the keys that are neither letters, digits nor F keys.
struct KeysymName
{
    Qt::Key key;
    const char* name;
};
constexpr KeysymName keysymNames[] = {
    {Qt::Key_Equal, "equal"},       {Qt::Key_Minus, "minus"},         {Qt::Key_BracketLeft, "bracketleft"},
    {Qt::Key_BracketRight, "bracketright"}, {Qt::Key_Apostrophe, "apostrophe"}, {Qt::Key_Semicolon, "semicolon"},
    {Qt::Key_Backslash, "backslash"}, {Qt::Key_Comma, "comma"},       {Qt::Key_Slash, "slash"},
    {Qt::Key_Period, "period"},     {Qt::Key_QuoteLeft, "grave"},     {Qt::Key_Tab, "Tab"},
    {Qt::Key_Space, "space"},       {Qt::Key_Return, "Return"},       {Qt::Key_Backspace, "BackSpace"},
};

std::optional<QString> keysymName(Qt::Key key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return QString(QChar(u'a' + (key - Qt::Key_A)));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return QString(QChar(u'0' + (key - Qt::Key_0)));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return QStringLiteral("F%1").arg(key - Qt::Key_F1 + 1);
    for (const KeysymName& entry : keysymNames) {
        if (entry.key == key)
            return QString::fromLatin1(entry.name);
    }
    return std::nullopt;
}

QString sessionHandle(const QVariantMap& results)
{
    // Documented as a string, though some portals send an object path.
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    if (handle.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return handle.value<QDBusObjectPath>().path();
    return handle.toString();
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

std::unique_ptr<PortalHotkeyBackend> PortalHotkeyBackend::create(const QDBusConnection& bus)
{
    if (!bus.isConnected())
        return nullptr;
    QDBusMessage get = QDBusMessage::createMethodCall(portalService, portalPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({shortcutsInterface, QStringLiteral("version")});
    const QDBusMessage reply = bus.call(get, QDBus::Block, probeTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCDebug(lcHotkey).noquote() << "No GlobalShortcuts portal:" << reply.errorMessage();
        return nullptr;
    }
    return std::make_unique<PortalHotkeyBackend>(bus);
}

PortalHotkeyBackend::PortalHotkeyBackend(const QDBusConnection& bus) : m_bus(bus)
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    // QtDBus finds the slot's argument types by name, which Qt knows only once registered.
    qRegisterMetaType<QDBusObjectPath>();
    if (!m_bus.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
                       SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap))))
        qCWarning(lcHotkey) << "Cannot listen for the portal's shortcut activations";
}

PortalHotkeyBackend::~PortalHotkeyBackend()
{
    release();
    // Sessions still being created end with this process's connection.
    for (const QString& path : std::as_const(m_abandoned))
        stopWaiting(path);
}

void PortalHotkeyBackend::installListener(std::function<void()> onPressed)
{
    m_onPressed = std::move(onPressed);
}

void PortalHotkeyBackend::removeListener()
{
    m_onPressed = nullptr;
}

std::optional<QString> PortalHotkeyBackend::preferredTrigger(const KeyCombo& combo)
{
    const std::optional<Qt::Key> key = qtKeyForKeyCode(combo.keyCode);
    const std::optional<QString> name = key ? keysymName(*key) : std::nullopt;
    if (!name)
        return std::nullopt;
    QStringList parts;
    if (combo.modifiers & CarbonModifier::Control)
        parts << QStringLiteral("CTRL");
    if (combo.modifiers & CarbonModifier::Option)
        parts << QStringLiteral("ALT");
    if (combo.modifiers & CarbonModifier::Shift)
        parts << QStringLiteral("SHIFT");
    if (combo.modifiers & CarbonModifier::Command)
        parts << QStringLiteral("LOGO");
    parts << *name;
    return parts.join(u'+');
}

// The portal answers through Response signals, and binding may wait on a
// dialog for as long as the user likes, so grab cannot wait for the outcome
// without freezing the interface. It reports Grabbed once the request is on
// its way; a later refusal is logged like one seen at once.
HotkeyBackend::GrabResult PortalHotkeyBackend::grab(const KeyCombo& combo, QString* detail)
{
    const std::optional<QString> trigger = preferredTrigger(combo);
    if (!trigger) {
        if (detail)
            *detail = QStringLiteral("key code %1 has no name in the shortcuts format").arg(combo.keyCode);
        return GrabResult::Untranslatable;
    }
    if (!m_bus.isConnected()) {
        if (detail)
            *detail = QStringLiteral("the session bus connection is closed");
        return GrabResult::Unavailable;
    }
    m_trigger = *trigger;
    const QString token = nextToken();
    const QVariantMap options{{QStringLiteral("handle_token"), token},
                              {QStringLiteral("session_handle_token"), token}};
    m_requestPath = sendRequest(QStringLiteral("CreateSession"), {options}, token);
    m_pending = Pending::session;
    return GrabResult::Grabbed;
}

void PortalHotkeyBackend::release()
{
    // The portal creates the session even if nobody listens; close it when it arrives.
    if (m_pending == Pending::session)
        m_abandoned.append(m_requestPath);
    else
        stopWaiting(m_requestPath);
    m_pending = Pending::none;
    m_requestPath.clear();
    if (!m_session.isEmpty())
        closeSession(m_session);
    m_session.clear();
    m_trigger.clear();
}

QString PortalHotkeyBackend::sendRequest(const QString& method, const QVariantList& arguments,
                                         const QString& token)
{
    // Listen on the request's predictable path before asking, so a fast answer is not missed.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    const QString path = portalPath + QStringLiteral("/request/") + sender + u'/' + token;
    m_bus.connect(portalService, path, requestInterface, QStringLiteral("Response"), this, responseSlot());

    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, path](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (!call->isError())
            return;
        stopWaiting(path);
        if (path == m_requestPath)
            refuse(call->error().message());
        else
            m_abandoned.removeOne(path);
    });
    return path;
}

void PortalHotkeyBackend::stopWaiting(const QString& requestPath)
{
    if (!requestPath.isEmpty())
        m_bus.disconnect(portalService, requestPath, requestInterface, QStringLiteral("Response"), this,
                         responseSlot());
}

void PortalHotkeyBackend::bindShortcut()
{
    const QString token = nextToken();
    const QList<PortalShortcut> shortcuts{
        {shortcutId,
         {{QStringLiteral("description"), QStringLiteral("Open or close Varlo")},
          {QStringLiteral("preferred_trigger"), m_trigger}}}};
    const QVariantMap options{{QStringLiteral("handle_token"), token}};
    m_requestPath = sendRequest(QStringLiteral("BindShortcuts"),
                                {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts),
                                 QString(), options},
                                token);
    m_pending = Pending::binding;
}

void PortalHotkeyBackend::closeSession(const QString& session)
{
    m_bus.call(QDBusMessage::createMethodCall(portalService, session, QStringLiteral("org.freedesktop.portal.Session"),
                                              QStringLiteral("Close")),
               QDBus::NoBlock);
}

void PortalHotkeyBackend::refuse(const QString& why)
{
    qCWarning(lcHotkey).noquote() << "Global shortcut" << m_trigger << "refused by the desktop:" << why;
    stopWaiting(m_requestPath);
    m_pending = Pending::none;
    m_requestPath.clear();
    release();
}

void PortalHotkeyBackend::onResponse(uint response, const QVariantMap& results, const QDBusMessage& message)
{
    const QString path = message.path();
    stopWaiting(path);
    if (m_abandoned.removeOne(path)) {
        // A refused request carries no session.
        if (const QString abandoned = sessionHandle(results); !abandoned.isEmpty())
            closeSession(abandoned);
        return;
    }
    if (path != m_requestPath)
        return;
    const Pending answered = m_pending;
    m_pending = Pending::none;
    m_requestPath.clear();
    if (response != 0) {
        refuse(response == 1 ? QStringLiteral("cancelled") : QStringLiteral("the request failed"));
        return;
    }
    if (answered == Pending::session) {
        m_session = sessionHandle(results);
        if (m_session.isEmpty())
            refuse(QStringLiteral("no session handle in the answer"));
        else
            bindShortcut();
        return;
    }
    // The desktop may have chosen another trigger, or the user none.
    const auto bound = qdbus_cast<QList<PortalShortcut>>(results.value(QStringLiteral("shortcuts")));
    for (const PortalShortcut& shortcut : bound) {
        if (shortcut.id == shortcutId)
            qCInfo(lcHotkey).noquote()
                << "Global shortcut bound by the desktop as"
                << shortcut.properties.value(QStringLiteral("trigger_description")).toString();
    }
}

void PortalHotkeyBackend::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                      const QVariantMap&)
{
    if (session.path() == m_session && id == shortcutId && m_onPressed)
        m_onPressed();
}

} // namespace varlo
