#include "services/AppId.h"
#include "services/DesktopSettings.h"
#include "services/LoginItem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace varlo;
using Page = DesktopSettings::Page;
Q_DECLARE_METATYPE(DesktopSettings::Page)

const QString program = QStringLiteral("/opt/varlo/bin/varlo");

static bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

namespace {

DesktopSettings::FindExecutable installed(const QStringList& programs)
{
    return [programs](const QString& name) {
        return programs.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
    };
}

} // namespace

// The autostart entry and the desktop's own settings pages.
class TstDesktopIntegration : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void enableThenDisable()
    {
        QTemporaryDir config;
        const LoginItem item(config.path(), program);
        QCOMPARE(item.entryPath(), config.path() + QStringLiteral("/autostart/%1.desktop").arg(appId));
        QVERIFY(!item.isEnabled());
        QVERIFY(item.setEnabled(true).ok && item.isEnabled());
        QFile entry(item.entryPath());
        const QByteArray text = entry.open(QIODevice::ReadOnly) ? entry.readAll() : QByteArray();
        QVERIFY(text.startsWith("[Desktop Entry]\n") && text.contains("\nExec=\"/opt/varlo/bin/varlo\"\n") &&
                text.contains("\nTryExec=/opt/varlo/bin/varlo\n"));
        // Enabling again rewrites an entry the user switched off.
        QVERIFY(writeFile(item.entryPath(), "[Desktop Entry]\nHidden=true\n") && !item.isEnabled());
        QVERIFY(item.setEnabled(true).ok && item.isEnabled());
        QVERIFY(item.setEnabled(false).ok && !QFile::exists(item.entryPath()) && !item.isEnabled());
        QVERIFY(item.setEnabled(false).ok); // nothing left to remove
    }

    void status_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("hidden") << QByteArray("[Desktop Entry]\nHidden = true\n") << false;
        QTest::newRow("gnome switch off")
            << QByteArray("[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n") << false;
        QTest::newRow("not an entry") << QByteArray("\177ELF\1\2") << false;
    }
    void status()
    {
        QFETCH(QByteArray, entry);
        QFETCH(bool, enabled);
        QTemporaryDir config;
        const LoginItem item(config.path(), program);
        QVERIFY(writeFile(item.entryPath(), entry));
        QCOMPARE(item.isEnabled(), enabled);
    }

    void execQuoting()
    {
        QCOMPARE(LoginItem::execValue("/opt/My Apps/varlo"), QStringLiteral("\"/opt/My Apps/varlo\""));
        QCOMPARE(LoginItem::execValue("/a/$x`y\"z"), QStringLiteral("\"/a/\\\\$x\\\\`y\\\\\"z\""));
        QCOMPARE(LoginItem::execValue("/a/100%/varlo"), QStringLiteral("\"/a/100%%/varlo\""));
    }

    // We run as root, so folder permissions prove nothing: block the paths with files and folders instead.
    void failuresCarryAReason()
    {
        QTemporaryDir root;
        QVERIFY(writeFile(root.filePath(QStringLiteral("file")), "x"));
        const auto fails = [&root](const char* config, const QString& executable, bool enable,
                                   const char* reason) {
            const LoginItem item(root.filePath(QString::fromLatin1(config)), executable);
            const LoginItem::Result result = item.setEnabled(enable);
            return !result.ok && result.error.contains(QLatin1String(reason)) && !item.isEnabled();
        };
        // A relative path would start nothing at login.
        QVERIFY(fails("fresh", QStringLiteral("bin/varlo"), true, "unknown"));
        QVERIFY(fails("file", program, true, "is a file"));
        QVERIFY(fails("file/config", program, true, "is a file"));
        QVERIFY(QDir().mkpath(LoginItem(root.filePath(QStringLiteral("config")), program).entryPath()));
        QVERIFY(fails("config", program, true, "is a folder"));
        QVERIFY(fails("config", program, false, "is a folder"));
    }

    void command_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QString>("programs"); // installed, space separated
        QTest::addColumn<Page>("page");
        QTest::addColumn<QString>("expected"); // what starts from /usr/bin, with its arguments; empty: none
        const auto row = [](const char* name, const char* desktop, const char* programs, Page page,
                            const char* expected) {
            QTest::newRow(name) << QString(desktop) << QString(programs) << page << QString(expected);
        };
        const char* all = "gnome-control-center systemsettings nm-connection-editor";
        row("gnome network", "ubuntu:GNOME", all, Page::network, "gnome-control-center network");
        row("kde notifications", "KDE", all, Page::notifications, "systemsettings kcm_notifications");
        row("desktop names ignore case", "kde", all, Page::network, "systemsettings kcm_networkmanagement");
        row("plasma 5 binary", "KDE", "systemsettings5", Page::network,
            "systemsettings5 kcm_networkmanagement");
        row("own program missing: another one", "KDE", "gnome-control-center", Page::notifications,
            "gnome-control-center notifications");
        row("other desktop: first installed", "XFCE", all, Page::network, "gnome-control-center network");
        row("connection editor for the network", "XFCE", "nm-connection-editor", Page::network,
            "nm-connection-editor");
        row("connection editor has no notifications", "XFCE", "nm-connection-editor", Page::notifications,
            "");
        row("nothing installed", "GNOME", "", Page::network, "");
    }

    void command()
    {
        QFETCH(QString, desktop);
        QFETCH(QString, programs);
        QFETCH(Page, page);
        QFETCH(QString, expected);

        QStringList started;
        const DesktopSettings settings(desktop, installed(programs.split(' ', Qt::SkipEmptyParts)),
                                       [&](const QString& program, const QStringList& arguments) {
                                           started.append((QStringList{program} + arguments).join(' '));
                                           return true;
                                       });
        QCOMPARE(settings.open(page), !expected.isEmpty());
        QCOMPARE(started, expected.isEmpty() ? QStringList() : QStringList{"/usr/bin/" + expected});
    }

    void failedStartIsReported()
    {
        const DesktopSettings settings(QStringLiteral("GNOME"),
                                       installed({QStringLiteral("gnome-control-center")}),
                                       [](const QString&, const QStringList&) { return false; });
        QVERIFY(settings.canOpen(Page::network));
        QVERIFY(!settings.open(Page::network));
    }
};

QTEST_GUILESS_MAIN(TstDesktopIntegration)
#include "tst_desktopintegration.moc"
