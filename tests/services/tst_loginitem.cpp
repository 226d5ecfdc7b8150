#include "services/AppId.h"
#include "services/LoginItem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace varlo;

namespace {

const QString program = QStringLiteral("/opt/varlo/bin/varlo");

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TstLoginItem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void enableThenDisable()
    {
        QTemporaryDir config;
        QVERIFY(config.isValid());
        const LoginItem item(config.path(), program);
        QCOMPARE(item.entryPath(), config.path() + QStringLiteral("/autostart/%1.desktop").arg(appId));
        QVERIFY(!item.isEnabled());

        const LoginItem::Result enabled = item.setEnabled(true);
        QVERIFY2(enabled.ok, qPrintable(enabled.error));
        QVERIFY(item.isEnabled());
        const QByteArray entry = readFile(item.entryPath());
        QVERIFY(entry.startsWith("[Desktop Entry]\n"));
        QVERIFY(entry.contains("\nType=Application\n"));
        QVERIFY(entry.contains("\nExec=\"/opt/varlo/bin/varlo\"\n"));

        // Enabling again rewrites the entry, even one the user switched off.
        QVERIFY(writeFile(item.entryPath(), "[Desktop Entry]\nExec=varlo\nHidden=true\n"));
        QVERIFY(!item.isEnabled());
        QVERIFY(item.setEnabled(true).ok);
        QVERIFY(item.isEnabled());

        QVERIFY(item.setEnabled(false).ok);
        QVERIFY(!QFile::exists(item.entryPath()));
        QVERIFY(!item.isEnabled());
        QVERIFY(item.setEnabled(false).ok); // nothing left to remove
    }

    void status_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("enabled");

        QTest::newRow("plain") << QByteArray("[Desktop Entry]\nType=Application\nExec=varlo\n") << true;
        QTest::newRow("hidden") << QByteArray("[Desktop Entry]\nExec=varlo\nHidden=true\n") << false;
        QTest::newRow("gnome switch off")
            << QByteArray("[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n") << false;
        QTest::newRow("gnome switch on")
            << QByteArray("[Desktop Entry]\nX-GNOME-Autostart-enabled=true\n") << true;
        QTest::newRow("spaces around =") << QByteArray("[Desktop Entry]\nHidden = true\n") << false;
        QTest::newRow("hidden in another group")
            << QByteArray("[Desktop Entry]\nExec=varlo\n[Desktop Action x]\nHidden=true\n") << true;
        QTest::newRow("commented out") << QByteArray("[Desktop Entry]\n# Hidden=true\n") << true;
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("not an entry") << QByteArray("\x7f"
                                                    "ELF\x01\x02")
                                      << false;
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

    void execQuoting_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");

        QTest::newRow("space") << "/opt/My Apps/varlo"
                               << "\"/opt/My Apps/varlo\"";
        QTest::newRow("shell characters") << "/a/$x`y\"z"
                                          << "\"/a/\\\\$x\\\\`y\\\\\"z\"";
        QTest::newRow("backslash") << "/a\\b"
                                   << "\"/a\\\\\\\\b\"";
        QTest::newRow("percent") << "/a/100%/varlo"
                                 << "\"/a/100%%/varlo\"";
        QTest::newRow("newline") << "/a\nb"
                                 << "\"/a\\nb\"";
    }

    void execQuoting()
    {
        QFETCH(QString, path);
        QFETCH(QString, exec);
        QCOMPARE(LoginItem::execValue(path), exec);
    }

    // We run as root, so folder permissions prove nothing: block the paths with files and folders instead.
    void failuresCarryAReason()
    {
        QTemporaryDir root;
        const QString plainFile = root.filePath(QStringLiteral("file"));
        QVERIFY(writeFile(plainFile, "x"));

        for (const QString& config : {plainFile, plainFile + QStringLiteral("/config")}) {
            const LoginItem item(config, program);
            const LoginItem::Result result = item.setEnabled(true);
            QVERIFY(!result.ok);
            QVERIFY2(result.error.contains(QLatin1String("is a file")), qPrintable(result.error));
            QVERIFY(!item.isEnabled());
            QVERIFY(item.setEnabled(false).ok); // there is no entry to remove
        }

        const LoginItem blocked(root.filePath(QStringLiteral("config")), program);
        QVERIFY(QDir().mkpath(blocked.entryPath()));
        for (bool enable : {true, false}) {
            const LoginItem::Result result = blocked.setEnabled(enable);
            QVERIFY(!result.ok);
            QVERIFY2(result.error.contains(QLatin1String("is a folder")), qPrintable(result.error));
        }
        QVERIFY(!blocked.isEnabled());
        QVERIFY(QFileInfo(blocked.entryPath()).isDir());

        const LoginItem relative(root.filePath(QStringLiteral("config2")), QStringLiteral("varlo"));
        const LoginItem::Result result = relative.setEnabled(true);
        QVERIFY(!result.ok);
        QVERIFY(!result.error.isEmpty());
        QVERIFY(!relative.isEnabled());
    }
};

QTEST_GUILESS_MAIN(TstLoginItem)
#include "tst_loginitem.moc"
