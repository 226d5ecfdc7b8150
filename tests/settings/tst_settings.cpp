#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaProperty>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>
#include <tuple>
#include <vector>

using namespace varlo;

static QJsonObject data(const char* json)
{
    return {{"base64", QString::fromLatin1(QByteArray(json).toBase64())}};
}

// Stored form of every key's default, or of a value other than the default.
static QJsonObject stored(bool otherValues = false)
{
    static const QList<std::tuple<QString, QJsonValue, QJsonValue>> keys{
        {"monitoredRange", "3000-9999", "8000"},
        {"excludedPorts", QJsonArray{5000, 7000}, QJsonArray{22}},
        {"scanInterval", 4.0, 0.5},
        {"launchAtLogin", false, true},
        {"showInDock", false, true},
        {"notifyOnNewPort", false, true},
        {"hotkey", data(R"({"keyCode":0,"modifiers":0})"), data(R"({"keyCode":49,"modifiers":256})")},
        {"historyRetentionDays", 15, 30},
        {"tunnelDetectionEnabled", true, false},
        {"dockerDetectionEnabled", true, false},
        {"ngrokAPIPort", 0, 4040},
        {"hasShownLoginPrompt", false, true},
        {"hasShownUpdatePrompt", false, true},
    };
    QJsonObject values;
    for (const auto& [key, defaultValue, otherValue] : keys)
        values[key] = otherValues ? otherValue : defaultValue;
    return values;
}

// Type and value of every property.
static QString describe(const AppSettings& settings)
{
    QString text;
    QDebug out(&text);
    const QMetaObject* meta = settings.metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        out << meta->property(i).read(&settings);
    out << settings.hotkey().keyCode << settings.hotkey().modifiers;
    return text;
}

// The file's contents, or what stands in its place.
static QByteArray snapshot(const QString& path)
{
    QFile file(path);
    return QFileInfo(path).isDir()          ? "<directory>"
           : file.open(QIODevice::ReadOnly) ? file.readAll()
                                            : "<none>";
}

// Everything in the file's folder: no temporary file may be left behind.
static QStringList folder(const QString& path)
{
    return QFileInfo(path).dir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

class TstSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void load_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<QJsonValue>("loaded");
        const QJsonValue kept(QJsonValue::Undefined); // the default stays
        const QJsonValue taken(QJsonValue::Null);     // the stored value is loaded
        QTest::newRow("range as number") << "monitoredRange" << QJsonValue(3000) << kept;
        QTest::newRow("ports empty") << "excludedPorts" << QJsonValue(QJsonArray{}) << taken;
        QTest::newRow("ports with text") << "excludedPorts" << QJsonValue(QJsonArray{22, "x"}) << kept;
        QTest::newRow("ports as text") << "excludedPorts" << QJsonValue("22") << kept;
        QTest::newRow("interval 0") << "scanInterval" << QJsonValue(0) << kept;
        QTest::newRow("interval 0.5") << "scanInterval" << QJsonValue(0.5) << taken;
        QTest::newRow("dock as number") << "showInDock" << QJsonValue(1) << QJsonValue(true);
        QTest::newRow("hotkey not json") << "hotkey" << QJsonValue(data("\x01garbage")) << kept;
        QTest::newRow("hotkey without modifiers")
            << "hotkey" << QJsonValue(data(R"({"keyCode":49})")) << kept;
        QTest::newRow("hotkey bad base64") << "hotkey" << QJsonValue(QJsonObject{{"base64", "!!"}}) << kept;
        QTest::newRow("retention 0") << "historyRetentionDays" << QJsonValue(0) << kept;
        QTest::newRow("retention -3") << "historyRetentionDays" << QJsonValue(-3) << taken;
        QTest::newRow("tunnels false") << "tunnelDetectionEnabled" << QJsonValue(false) << taken;
        QTest::newRow("docker false") << "dockerDetectionEnabled" << QJsonValue(false) << taken;
        QTest::newRow("ngrok as text") << "ngrokAPIPort" << QJsonValue("4041") << kept;
    }

    void load()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(QJsonValue, loaded);
        MemoryDefaultsStore store(QJsonObject{{key, value}});
        AppSettings settings(store);
        QCOMPARE(store.writeCount(), 0);
        settings.save();
        QJsonObject expected = stored();
        if (!loaded.isUndefined())
            expected[key] = loaded.isNull() ? value : loaded;
        QCOMPARE(store.values(), expected);
    }

    void writesNotifyAndReset()
    {
        MemoryDefaultsStore store(stored(true));
        AppSettings settings(store);
        std::vector<std::unique_ptr<QSignalSpy>> spies; // one per property, in declaration order
        for (int i = settings.metaObject()->propertyOffset(); i < settings.metaObject()->propertyCount(); ++i)
            spies.push_back(
                std::make_unique<QSignalSpy>(&settings, settings.metaObject()->property(i).notifySignal()));

        // Unchanged: nothing notifies, yet every key is rewritten.
        settings.setShowInDock(true);
        QCOMPARE(store.writeCount(), 13);
        QCOMPARE(store.values(), stored(true));
        for (const auto& spy : spies)
            QCOMPARE(spy->count(), 0);

        settings.resetToDefaults();
        QCOMPARE(store.values(), stored());
        settings.resetToDefaults(); // changes nothing more
        for (const auto& spy : spies)
            QCOMPARE(spy->count(), 1);
    }

    void roundTripInFreshProcess()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Varlo/settings.json"));
        JsonDefaultsStore store(path);
        AppSettings settings(store);
        settings.setScanInterval(0.5);
        settings.setHotkey({49, 256});
        settings.setHistoryRetentionDays(-3);
        store.flush();
        QProcess reader;
        reader.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--describe"), path});
        QVERIFY(reader.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(reader.readAllStandardOutput()), describe(settings));

        settings.setNgrokAPIPort(4041);
        QTRY_COMPARE_WITH_TIMEOUT(JsonDefaultsStore(path).integer("ngrokAPIPort"), 4041, 5000);
        {
            JsonDefaultsStore other(path);
            other.remove(QStringLiteral("monitoredRange")); // pending when `other` is destroyed
        }
        QVERIFY(!JsonDefaultsStore(path).contains("monitoredRange"));
        QCOMPARE(folder(path), QStringList{"settings.json"});
    }

    void unusableFileReadsEmpty_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("not json") << QByteArray("{\"monitoredRange\": \"22\",");
        QTest::newRow("array") << QByteArray("[{\"monitoredRange\": \"22\"}]");
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe\x01{}\x80", 7);
        QTest::newRow("directory") << QByteArray("<directory>");
    }

    void unusableFileReadsEmpty()
    {
        QFETCH(QByteArray, contents);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        const bool directory = contents == "<directory>";
        QFile file(path);
        QVERIFY(directory ? QDir().mkdir(path)
                          : file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() &&
                                file.flush());
        {
            JsonDefaultsStore store(path);
            const QString key = QStringLiteral("monitoredRange");
            QVERIFY(!store.contains(key) && !store.string(key) && !store.array(key) && !store.data(key));
            QVERIFY(store.doubleValue(key) == 0 && store.integer(key) == 0 && !store.boolean(key));
        }
        QCOMPARE(snapshot(path), contents); // loading alone leaves the file as it was

        {
            JsonDefaultsStore store(path);
            AppSettings(store).setShowInDock(true);
        }
        QCOMPARE(folder(path), QStringList{"settings.json"});
        QCOMPARE(QJsonDocument::fromJson(snapshot(path)).object().value("showInDock").toBool(), !directory);
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--describe") == 0) { // child: load the file as the application does
        JsonDefaultsStore store(QString::fromLocal8Bit(argv[2]));
        return std::fputs(qPrintable(describe(AppSettings(store))), stdout) < 0;
    }
    QCoreApplication app(argc, argv);
    TstSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
