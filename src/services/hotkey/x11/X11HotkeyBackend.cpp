#include "services/hotkey/x11/X11HotkeyBackend.h"

#include "services/hotkey/x11/X11KeyTranslation.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <X11/keysym.h>
#include <cstdlib>
#include <xcb/xcb_keysyms.h>

namespace varlo {

namespace {

constexpr quint16 allModifierBits = 0xFF; // Shift, Lock, Control, Mod1..Mod5
constexpr qsizetype maxKeycodesPerKey = 8;

struct KeySymbolsDeleter
{
    void operator()(xcb_key_symbols_t* symbols) const { xcb_key_symbols_free(symbols); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter>;

struct FreeDeleter
{
    void operator()(void* pointer) const { std::free(pointer); }
};

struct ServerModifiers
{
    x11::ModifierMasks masks;
    quint16 numLock = 0x10; // Mod2
};

// Where Alt, Super and NumLock sit in the server's modifier map; the common
// places when the map does not say.
ServerModifiers serverModifiers(xcb_connection_t* connection, xcb_key_symbols_t* symbols)
{
    ServerModifiers result;
    const xcb_get_modifier_mapping_cookie_t cookie = xcb_get_modifier_mapping(connection);
    std::unique_ptr<xcb_get_modifier_mapping_reply_t, FreeDeleter> reply(
        xcb_get_modifier_mapping_reply(connection, cookie, nullptr));
    if (!reply)
        return result;
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(reply.get());
    const int perModifier = reply->keycodes_per_modifier;
    quint16 alt = 0, super = 0, numLock = 0;
    // The first three rows are Shift, Lock and Control, which never move.
    for (int modifier = 3; modifier < 8; ++modifier) {
        const auto bit = static_cast<quint16>(1u << modifier);
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t keycode = keycodes[modifier * perModifier + i];
            if (keycode == 0)
                continue;
            const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols, keycode, 0);
            if (keysym == XK_Alt_L || keysym == XK_Alt_R)
                alt |= bit;
            else if (keysym == XK_Super_L || keysym == XK_Super_R)
                super |= bit;
            else if (keysym == XK_Num_Lock)
                numLock |= bit;
        }
    }
    if (alt)
        result.masks.alt = alt;
    if (super)
        result.masks.super = super;
    if (numLock)
        result.numLock = numLock;
    return result;
}

QString describeError(quint8 errorCode)
{
    if (errorCode == XCB_ACCESS)
        return QStringLiteral("BadAccess (another program holds this key combination)");
    return QStringLiteral("X error %1").arg(errorCode);
}

} // namespace

std::unique_ptr<X11HotkeyBackend> X11HotkeyBackend::create()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return nullptr;
    return std::make_unique<X11HotkeyBackend>(x11->connection());
}

X11HotkeyBackend::X11HotkeyBackend(xcb_connection_t* connection) : m_connection(connection) {}

X11HotkeyBackend::~X11HotkeyBackend()
{
    release();
    removeListener();
}

bool X11HotkeyBackend::connectionUsable() const
{
    // Qt closes its connection with the application; grabs die with it.
    return QCoreApplication::instance() && m_connection && !xcb_connection_has_error(m_connection);
}

void X11HotkeyBackend::installListener(std::function<void()> onPressed)
{
    m_onPressed = std::move(onPressed);
    if (m_filterInstalled)
        return;
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_filterInstalled = true;
    ++m_filterInstalls;
}

void X11HotkeyBackend::removeListener()
{
    if (m_filterInstalled && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    m_filterInstalled = false;
    m_onPressed = nullptr;
}

HotkeyBackend::GrabResult X11HotkeyBackend::grab(const KeyCombo& combo, QString* detail)
{
    auto fail = [detail](GrabResult result, const QString& why) {
        if (detail)
            *detail = why;
        return result;
    };
    if (!connectionUsable())
        return fail(GrabResult::Unavailable, QStringLiteral("the X connection is closed"));
    const std::optional<quint32> keysym = x11::keysymForKeyCode(combo.keyCode);
    if (!keysym)
        return fail(GrabResult::Untranslatable,
                    QStringLiteral("key code %1 has no X keysym").arg(combo.keyCode));

    const KeySymbols symbols(xcb_key_symbols_alloc(m_connection));
    if (!symbols)
        return fail(GrabResult::Unavailable, QStringLiteral("cannot read the keyboard map"));
    QList<xcb_keycode_t> keycodes;
    {
        const std::unique_ptr<xcb_keycode_t, FreeDeleter> found(
            xcb_key_symbols_get_keycode(symbols.get(), static_cast<xcb_keysym_t>(*keysym)));
        for (qsizetype i = 0; found && i < maxKeycodesPerKey && found.get()[i] != XCB_NO_SYMBOL; ++i) {
            if (!keycodes.contains(found.get()[i]))
                keycodes.append(found.get()[i]);
        }
    }
    if (keycodes.isEmpty())
        return fail(GrabResult::Untranslatable,
                    QStringLiteral("keysym 0x%1 is not on the keyboard").arg(*keysym, 0, 16));

    const ServerModifiers server = serverModifiers(m_connection, symbols.get());
    const quint16 modifiers = x11::xModifiersForCarbon(combo.modifiers, server.masks);
    const quint16 locks = server.numLock | x11::lockMask;
    const quint16 lockVariants[] = {0, server.numLock, x11::lockMask, locks};

    QList<Grab> requested;
    QList<xcb_void_cookie_t> cookies;
    for (xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)); screen.rem;
         xcb_screen_next(&screen)) {
        for (const xcb_keycode_t keycode : std::as_const(keycodes)) {
            for (const quint16 variant : lockVariants) {
                const Grab grab{screen.data->root, keycode, static_cast<quint16>(modifiers | variant)};
                if (std::any_of(requested.cbegin(), requested.cend(), [&grab](const Grab& g) {
                        return g.root == grab.root && g.keycode == grab.keycode &&
                               g.modifiers == grab.modifiers;
                    }))
                    continue;
                requested.append(grab);
                cookies.append(xcb_grab_key_checked(m_connection, 0, grab.root, grab.modifiers, grab.keycode,
                                                    XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
            }
        }
    }

    quint8 errorCode = 0;
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        std::unique_ptr<xcb_generic_error_t, FreeDeleter> error(xcb_request_check(m_connection, cookies[i]));
        if (error) {
            if (errorCode == 0)
                errorCode = error->error_code;
        } else {
            m_grabs.append(requested[i]);
        }
    }
    if (errorCode != 0) {
        // A combo that fires only with some lock states would be worse than none.
        release();
        return fail(GrabResult::Refused, describeError(errorCode));
    }
    m_keycodes = keycodes;
    m_modifiers = modifiers;
    m_lockModifiers = locks;
    return GrabResult::Grabbed;
}

void X11HotkeyBackend::release()
{
    if (!m_grabs.isEmpty() && connectionUsable()) {
        for (const Grab& grab : std::as_const(m_grabs))
            xcb_ungrab_key(m_connection, grab.keycode, grab.root, grab.modifiers);
        xcb_flush(m_connection);
    }
    m_grabs.clear();
    m_keycodes.clear();
    m_modifiers = 0;
    m_lockModifiers = 0;
}

bool X11HotkeyBackend::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (m_keycodes.isEmpty() || eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_KEY_PRESS)
        return false;
    const auto* press = static_cast<const xcb_key_press_event_t*>(message);
    const quint16 state = press->state & allModifierBits & ~m_lockModifiers;
    if (state != m_modifiers || !m_keycodes.contains(press->detail))
        return false;
    if (m_onPressed)
        m_onPressed();
    return true;
}

} // namespace varlo
