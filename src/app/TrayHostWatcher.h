#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <functional>

class QDBusServiceWatcher;

namespace varlo {

// Tells whether a tray can show Varlo's icon: a StatusNotifierWatcher with a
// registered host on the session bus, or an XEmbed tray on the X display.
// Qt picks between the two once per process, when the first icon is made, so
// the icon must wait for a host; this watches for one to appear.
class TrayHostWatcher : public QObject
{
    Q_OBJECT

public:
    using XEmbedProbe = std::function<bool()>;

    explicit TrayHostWatcher(const QDBusConnection& bus, XEmbedProbe xembedTray, QObject* parent = nullptr);

    // Asks both now (a short bus call).
    bool hostExists() const;
    // Starts watching; `hostAppeared` is emitted once, when a host shows up.
    void watch();

    static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";

Q_SIGNALS:
    void hostAppeared();

private Q_SLOTS:
    void check();

private:
    bool statusNotifierHostRegistered() const;

    QDBusConnection m_bus;
    XEmbedProbe m_xembedTray;
    QDBusServiceWatcher* m_serviceWatcher = nullptr;
    QTimer m_poll; // the X11 tray selection has no change signal we could get cheaply
    bool m_watching = false;
};

} // namespace varlo
