#include "app/X11Desktop.h"

#include <QGuiApplication>
#include <QWidget>

#ifdef VARLO_HAVE_XCB
#include <memory>
#include <xcb/xcb.h>
#endif

namespace varlo::x11 {

#ifdef VARLO_HAVE_XCB
namespace {

xcb_connection_t* connection()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(qstrlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> reply(xcb_intern_atom_reply(c, cookie, nullptr),
                                                                     &free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Screen 0's selection: Varlo runs on one X screen, as every current desktop does.
bool selectionOwned(const char* name)
{
    xcb_connection_t* c = connection();
    if (!c)
        return false;
    const xcb_atom_t selection = atom(c, name);
    if (selection == XCB_ATOM_NONE)
        return false;
    const xcb_get_selection_owner_cookie_t cookie = xcb_get_selection_owner(c, selection);
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&free)> reply(
        xcb_get_selection_owner_reply(c, cookie, nullptr), &free);
    return reply && reply->owner != XCB_WINDOW_NONE;
}

xcb_window_t rootOf(xcb_connection_t* c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

} // namespace

bool available()
{
    return connection() != nullptr;
}

bool systemTrayOwned()
{
    return selectionOwned("_NET_SYSTEM_TRAY_S0");
}

bool compositorRunning()
{
    return selectionOwned("_NET_WM_CM_S0");
}

void setSkipTaskbar(QWidget* window, bool skip)
{
    xcb_connection_t* c = connection();
    if (!c || !window)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t taskbar = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    if (window->isVisible()) {
        // A mapped window belongs to the window manager: ask it (EWMH).
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = id;
        event.type = state;
        event.data.data32[0] = skip ? 1 : 0; // _NET_WM_STATE_ADD / _REMOVE
        event.data.data32[1] = taskbar;
        event.data.data32[3] = 1; // a normal application
        xcb_send_event(c, 0, rootOf(c),
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&event));
    } else if (skip) {
        // Before mapping the property is ours; Qt keeps atoms it did not set.
        xcb_change_property(c, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 1, &taskbar);
    } else {
        xcb_delete_property(c, id, state);
    }
    xcb_flush(c);
}

#else

bool available()
{
    return false;
}
bool systemTrayOwned()
{
    return false;
}
bool compositorRunning()
{
    return false;
}
void setSkipTaskbar(QWidget*, bool) {}

#endif

} // namespace varlo::x11
