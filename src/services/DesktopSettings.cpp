#include "services/DesktopSettings.h"

#include <QProcess>
#include <QStandardPaths>
#include <array>

namespace varlo {

namespace {

struct Candidate
{
    QLatin1StringView desktop; // an $XDG_CURRENT_DESKTOP entry this program belongs to
    QLatin1StringView program;
    // The argument that opens each page (empty: none needed); absent: no such page.
    std::optional<QLatin1StringView> networkPage;
    std::optional<QLatin1StringView> notificationsPage;
};

// In the order tried when the current desktop's own program is missing.
constexpr std::array candidates{
    Candidate{QLatin1StringView("GNOME"), QLatin1StringView("gnome-control-center"),
              QLatin1StringView("network"), QLatin1StringView("notifications")},
    Candidate{QLatin1StringView("KDE"), QLatin1StringView("systemsettings"),
              QLatin1StringView("kcm_networkmanagement"), QLatin1StringView("kcm_notifications")},
    Candidate{QLatin1StringView("KDE"), QLatin1StringView("systemsettings5"),
              QLatin1StringView("kcm_networkmanagement"), QLatin1StringView("kcm_notifications")},
    // The editor opens on its connection list, which holds the VPNs.
    Candidate{QLatin1StringView(), QLatin1StringView("nm-connection-editor"), QLatin1StringView(),
              std::nullopt},
};

std::optional<QLatin1StringView> pageArgument(const Candidate& candidate, DesktopSettings::Page page)
{
    return page == DesktopSettings::Page::network ? candidate.networkPage : candidate.notificationsPage;
}

} // namespace

DesktopSettings::DesktopSettings()
    : DesktopSettings(
          qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
          [](const QString& name) { return QStandardPaths::findExecutable(name); },
          [](const QString& program, const QStringList& arguments) {
              return QProcess::startDetached(program, arguments);
          })
{
}

DesktopSettings::DesktopSettings(QString currentDesktop, FindExecutable findExecutable,
                                 StartDetached startDetached)
    : m_currentDesktop(std::move(currentDesktop)), m_findExecutable(std::move(findExecutable)),
      m_startDetached(std::move(startDetached))
{
}

std::optional<DesktopSettings::Command> DesktopSettings::command(Page page) const
{
    // "ubuntu:GNOME", "KDE", ...; compared without case like the desktops themselves do.
    const QStringList desktops = m_currentDesktop.split(u':', Qt::SkipEmptyParts);
    const auto isCurrent = [&](const Candidate& candidate) {
        return !candidate.desktop.isEmpty() && desktops.contains(candidate.desktop, Qt::CaseInsensitive);
    };
    const auto tryCandidate = [&](const Candidate& candidate) -> std::optional<Command> {
        const std::optional<QLatin1StringView> argument = pageArgument(candidate, page);
        if (!argument)
            return std::nullopt;
        const QString path = m_findExecutable(QString(candidate.program));
        if (path.isEmpty())
            return std::nullopt;
        return Command{path, argument->isEmpty() ? QStringList() : QStringList{QString(*argument)}};
    };
    for (const Candidate& candidate : candidates) {
        if (isCurrent(candidate)) {
            if (auto found = tryCandidate(candidate))
                return found;
        }
    }
    for (const Candidate& candidate : candidates) {
        if (!isCurrent(candidate)) {
            if (auto found = tryCandidate(candidate))
                return found;
        }
    }
    return std::nullopt;
}

bool DesktopSettings::open(Page page) const
{
    const std::optional<Command> found = command(page);
    return found && m_startDetached(found->program, found->arguments);
}

} // namespace varlo
