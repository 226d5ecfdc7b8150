#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QMetaProperty>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

using namespace varlo;

namespace {

const char* const dumpOption = "--dump-settings";

// Every property as "name=value" lines.
QString describe(const AppSettings& settings)
{
    QStringList lines;
    const QMetaObject* meta = settings.metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QVariant value = meta->property(i).read(&settings);
        QString text;
        if (value.canConvert<KeyCombo>() && value.metaType() == QMetaType::fromType<KeyCombo>()) {
            const auto combo = value.value<KeyCombo>();
            text = QStringLiteral("%1/%2").arg(combo.keyCode).arg(combo.modifiers);
        } else if (value.metaType() == QMetaType::fromType<QList<qint64>>()) {
            for (qint64 port : value.value<QList<qint64>>())
                text += QString::number(port) + u' ';
        } else {
            text = value.toString();
        }
        lines << QString::fromLatin1(meta->property(i).name()) + u'=' + text;
    }
    return lines.join(u'\n');
}

// Run as a separate process: load the file the way the application does and print it.
int dumpSettings(const char* path)
{
    JsonDefaultsStore store(QString::fromLocal8Bit(path));
    AppSettings settings(store);
    std::fputs(describe(settings).toUtf8().constData(), stdout);
    return 0;
}

// The file's directory holds nothing but the file itself (no temp leftovers).
QStringList directoryEntries(const QString& filePath)
{
    return QFileInfo(filePath).dir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TstJsonDefaultsStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTripInFreshProcess()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Varlo/settings.json"));
        QString written;
        {
            JsonDefaultsStore store(path);
            AppSettings settings(store);
            settings.setMonitoredRange(QStringLiteral("4000-4100, 22"));
            settings.setExcludedPorts({22, 8080});
            settings.setScanInterval(0.5);
            settings.setHotkey({49, 256});
            settings.setHistoryRetentionDays(-3);
            settings.setTunnelDetectionEnabled(false);
            settings.setNgrokAPIPort(4041);
            settings.setHasShownUpdatePrompt(true);
            written = describe(settings);
        }
        QCOMPARE(directoryEntries(path), QStringList{QStringLiteral("settings.json")});

        QProcess reader;
        reader.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(dumpOption), path});
        QVERIFY(reader.waitForFinished(30000));
        QCOMPARE(reader.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(reader.readAllStandardOutput()), written);
    }

    void absentKeys()
    {
        QTemporaryDir dir;
        const JsonDefaultsStore store(dir.filePath(QStringLiteral("missing/settings.json")));
        const QString key = QStringLiteral("monitoredRange");
        QVERIFY(!store.contains(key));
        QVERIFY(!store.string(key) && !store.array(key) && !store.data(key));
        QCOMPARE(store.doubleValue(key), 0.0);
        QCOMPARE(store.integer(key), 0);
        QCOMPARE(store.boolean(key), false);
    }

    void unusableFileReadsEmpty_data()
    {
        QTest::addColumn<QByteArray>("contents"); // empty: a directory stands in the file's place
        QTest::newRow("not json") << QByteArray("{\"monitoredRange\": \"22\",");
        QTest::newRow("array") << QByteArray("[{\"monitoredRange\": \"22\"}]");
        QTest::newRow("number") << QByteArray("42");
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe\x01{}\x80", 7);
        QTest::newRow("directory") << QByteArray();
    }
    void unusableFileReadsEmpty()
    {
        QFETCH(QByteArray, contents);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        if (contents.isEmpty()) {
            QVERIFY(QDir().mkdir(path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(contents);
        }
        MemoryDefaultsStore fresh;
        const QString defaults = describe(AppSettings(fresh));
        {
            JsonDefaultsStore store(path);
            QVERIFY(!store.contains(QStringLiteral("monitoredRange")));
            QCOMPARE(describe(AppSettings(store)), defaults);
        }
        // Loading alone leaves the file as it was.
        QFile file(path);
        if (!contents.isEmpty()) {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), contents);
            file.close();
        }

        {
            JsonDefaultsStore store(path);
            AppSettings(store).setShowInDock(true);
        }
        QCOMPARE(directoryEntries(path), QStringList{QStringLiteral("settings.json")});
        if (contents.isEmpty()) {
            QVERIFY(QFileInfo(path).isDir());
        } else {
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
            QCOMPARE(stored.size(), 13);
            QCOMPARE(stored.value(QStringLiteral("showInDock")), QJsonValue(true));
        }
    }

    void pendingWritesPersist()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        auto storedValue = [&](const QString& key) { return JsonDefaultsStore(path).value(key); };

        JsonDefaultsStore store(path);
        store.setInteger(QStringLiteral("n"), 5);
        QVERIFY(!QFile::exists(path)); // written shortly after, not at once
        store.flush();
        QCOMPARE(storedValue(QStringLiteral("n")), QJsonValue(5));

        store.setString(QStringLiteral("s"), QStringLiteral("later"));
        QTRY_COMPARE_WITH_TIMEOUT(storedValue(QStringLiteral("s")), QJsonValue("later"), 5000);

        {
            JsonDefaultsStore other(path);
            other.remove(QStringLiteral("n"));
        }
        QVERIFY(storedValue(QStringLiteral("n")).isUndefined());
        QCOMPARE(storedValue(QStringLiteral("s")), QJsonValue("later"));
        QCOMPARE(directoryEntries(path), QStringList{QStringLiteral("settings.json")});
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], dumpOption) == 0)
        return dumpSettings(argv[2]);
    QCoreApplication app(argc, argv);
    TstJsonDefaultsStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_jsondefaultsstore.moc"
