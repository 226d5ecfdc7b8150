#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace varlo {

// Opens a page of the desktop's own settings program: GNOME Settings, KDE
// System Settings, or NetworkManager's editor for the network page. Where
// none is installed, nothing happens.
class DesktopSettings
{
public:
    enum class Page
    {
        network,
        notifications,
    };

    struct Command
    {
        QString program; // absolute path
        QStringList arguments;
        bool operator==(const Command&) const = default;
    };

    // Absolute path of an installed program, empty when there is none.
    using FindExecutable = std::function<QString(const QString& name)>;
    using StartDetached = std::function<bool(const QString& program, const QStringList& arguments)>;

    // $XDG_CURRENT_DESKTOP, the PATH and a detached start.
    DesktopSettings();
    DesktopSettings(QString currentDesktop, FindExecutable findExecutable, StartDetached startDetached);

    // The current desktop's program first, then any other that is installed.
    std::optional<Command> command(Page page) const;
    bool canOpen(Page page) const { return command(page).has_value(); }
    // False when no program is installed or it could not be started.
    bool open(Page page) const;

private:
    QString m_currentDesktop;
    FindExecutable m_findExecutable;
    StartDetached m_startDetached;
};

} // namespace varlo
