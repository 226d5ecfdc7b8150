#include "services/LoginItem.h"

#include "services/AppId.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace varlo {

namespace {

// An autostart entry is a few hundred bytes; anything much larger is not ours
// and is not worth reading in full.
constexpr qint64 maxEntryBytes = 64 * 1024;

QString quoted(const QString& path)
{
    return QStringLiteral("“%1”").arg(QDir::toNativeSeparators(path));
}

// The first existing ancestor of `folder` (or `folder` itself) that is not a folder.
QString blockingFile(const QString& folder)
{
    QString path = QDir::cleanPath(folder);
    while (!path.isEmpty()) {
        const QFileInfo info(path);
        if (info.exists() || info.isSymLink())
            return info.isDir() ? QString() : path;
        const QString parent = info.path();
        if (parent == path)
            break;
        path = parent;
    }
    return {};
}

// A value of the desktop entry's string type.
QString escapedString(const QString& text)
{
    QString value;
    value.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            value += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            value += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            value += QLatin1String("\\r");
        else
            value += c;
    }
    return value;
}

bool parseBoolean(const QString& text, bool& flag)
{
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || text == QLatin1String("1")) {
        flag = true;
        return true;
    }
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || text == QLatin1String("0")) {
        flag = false;
        return true;
    }
    return false;
}

} // namespace

LoginItem::LoginItem()
    : LoginItem(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                QCoreApplication::applicationFilePath())
{
}

LoginItem::LoginItem(QString configFolder, QString executablePath)
    : m_configFolder(std::move(configFolder)), m_executablePath(std::move(executablePath))
{
}

QString LoginItem::entryPath() const
{
    return m_configFolder + QLatin1String("/autostart/") + QLatin1String(appId) + QLatin1String(".desktop");
}

LoginItem::Result LoginItem::setEnabled(bool enabled) const
{
    if (m_configFolder.isEmpty() || !QFileInfo(m_configFolder).isAbsolute())
        return Result::failure(
            QCoreApplication::translate("LoginItem", "Your configuration folder could not be determined."));
    return enabled ? enable() : disable();
}

bool LoginItem::isEnabled() const
{
    if (m_configFolder.isEmpty())
        return false;
    QFile file(entryPath());
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromUtf8(file.read(maxEntryBytes));

    bool inMainGroup = false;
    bool sawMainGroup = false;
    bool hidden = false;
    bool autostartEnabled = true;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            sawMainGroup = sawMainGroup || inMainGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || equals < 0)
            continue;
        const QStringView key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed().toString();
        if (key == QLatin1String("Hidden"))
            parseBoolean(value, hidden);
        else if (key == QLatin1String("X-GNOME-Autostart-enabled"))
            parseBoolean(value, autostartEnabled);
    }
    // A file without the main group is not an entry any session manager would start.
    return sawMainGroup && !hidden && autostartEnabled;
}

QString LoginItem::execValue(const QString& executablePath)
{
    // Quote the whole path: inside double quotes ", `, $ and \ take a backslash,
    // and % doubles so it is not read as a field code.
    QString argument;
    argument.reserve(executablePath.size() + 2);
    argument += QLatin1Char('"');
    for (const QChar c : executablePath) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            argument += QLatin1Char('\\');
        else if (c == QLatin1Char('%'))
            argument += QLatin1Char('%');
        argument += c;
    }
    argument += QLatin1Char('"');

    // The key's value is a string, which has its own escapes on top of the quoting.
    return escapedString(argument);
}

LoginItem::Result LoginItem::enable() const
{
    if (m_executablePath.isEmpty() || !QFileInfo(m_executablePath).isAbsolute())
        return Result::failure(QCoreApplication::translate(
            "LoginItem", "The location of the Varlo program is unknown, so it can't be started at login."));

    const QString folder = QFileInfo(entryPath()).path();
    if (!QDir().mkpath(folder)) {
        const QString blocker = blockingFile(folder);
        if (!blocker.isEmpty())
            return Result::failure(QCoreApplication::translate(
                                       "LoginItem", "Couldn't create the folder %1 because %2 is a file.")
                                       .arg(quoted(folder), quoted(blocker)));
        return Result::failure(
            QCoreApplication::translate("LoginItem", "Couldn't create the folder %1.").arg(quoted(folder)));
    }

    const QString path = entryPath();
    if (QFileInfo(path).isDir())
        return Result::failure(
            QCoreApplication::translate("LoginItem", "Couldn't write the autostart entry: %1 is a folder.")
                .arg(quoted(path)));

    QString entry;
    entry += QLatin1String("[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Varlo\n"
                           "Comment=Shows which local processes listen on TCP ports\n");
    entry += QLatin1String("Exec=") + execValue(m_executablePath) + QLatin1Char('\n');
    // Once the program is gone (uninstalled, or a build folder cleaned) the session skips the entry.
    entry += QLatin1String("TryExec=") + escapedString(m_executablePath) + QLatin1Char('\n');
    entry += QLatin1String("Icon=") + QLatin1String(appId) + QLatin1Char('\n');
    entry += QLatin1String("Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n");

    QSaveFile file(path);
    const QByteArray bytes = entry.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return Result::failure(
            QCoreApplication::translate("LoginItem", "Couldn't write the autostart entry %1: %2")
                .arg(quoted(path), file.errorString()));
    return Result::success();
}

LoginItem::Result LoginItem::disable() const
{
    const QString path = entryPath();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Result::success();
    if (info.isDir() && !info.isSymLink())
        return Result::failure(
            QCoreApplication::translate("LoginItem", "Couldn't remove the autostart entry: %1 is a folder.")
                .arg(quoted(path)));
    QFile file(path);
    if (!file.remove())
        return Result::failure(
            QCoreApplication::translate("LoginItem", "Couldn't remove the autostart entry %1: %2")
                .arg(quoted(path), file.errorString()));
    return Result::success();
}

} // namespace varlo
