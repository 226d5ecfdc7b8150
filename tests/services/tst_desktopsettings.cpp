#include "services/DesktopSettings.h"

#include <QTest>

using namespace varlo;
using Page = DesktopSettings::Page;

Q_DECLARE_METATYPE(DesktopSettings::Page)

namespace {

DesktopSettings::FindExecutable installed(const QStringList& programs)
{
    return [programs](const QString& name) {
        return programs.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
    };
}

} // namespace

class TstDesktopSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void command_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QStringList>("programs");
        QTest::addColumn<Page>("page");
        QTest::addColumn<QStringList>("expected"); // program, then arguments; empty: none

        const QStringList all{QStringLiteral("gnome-control-center"), QStringLiteral("systemsettings"),
                              QStringLiteral("nm-connection-editor")};
        QTest::newRow("gnome network") << "ubuntu:GNOME" << all << Page::network
                                       << QStringList{"/usr/bin/gnome-control-center", "network"};
        QTest::newRow("kde notifications") << "KDE" << all << Page::notifications
                                           << QStringList{"/usr/bin/systemsettings", "kcm_notifications"};
        QTest::newRow("desktop names ignore case")
            << "kde" << all << Page::network
            << QStringList{"/usr/bin/systemsettings", "kcm_networkmanagement"};
        QTest::newRow("plasma 5 binary") << "KDE" << QStringList{"systemsettings5"} << Page::network
                                         << QStringList{"/usr/bin/systemsettings5", "kcm_networkmanagement"};
        QTest::newRow("own program missing: another one")
            << "KDE" << QStringList{"gnome-control-center"} << Page::notifications
            << QStringList{"/usr/bin/gnome-control-center", "notifications"};
        QTest::newRow("other desktop: first installed")
            << "XFCE" << all << Page::network << QStringList{"/usr/bin/gnome-control-center", "network"};
        QTest::newRow("connection editor for the network")
            << "XFCE" << QStringList{"nm-connection-editor"} << Page::network
            << QStringList{"/usr/bin/nm-connection-editor"};
        QTest::newRow("connection editor has no notifications")
            << "XFCE" << QStringList{"nm-connection-editor"} << Page::notifications << QStringList{};
        QTest::newRow("nothing installed") << "GNOME" << QStringList{} << Page::network << QStringList{};
    }

    void command()
    {
        QFETCH(QString, desktop);
        QFETCH(QStringList, programs);
        QFETCH(Page, page);
        QFETCH(QStringList, expected);

        QList<QStringList> started;
        const DesktopSettings settings(desktop, installed(programs),
                                       [&](const QString& program, const QStringList& arguments) {
                                           started.append(QStringList{program} + arguments);
                                           return true;
                                       });
        QCOMPARE(settings.open(page), !expected.isEmpty());
        QCOMPARE(started, expected.isEmpty() ? QList<QStringList>{} : QList<QStringList>{expected});
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

QTEST_GUILESS_MAIN(TstDesktopSettings)
#include "tst_desktopsettings.moc"
