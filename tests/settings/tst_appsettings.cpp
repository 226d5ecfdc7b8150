#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QJsonArray>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <vector>

using namespace varlo;

namespace {

struct PropertyCase
{
    const char* name;
    QVariant defaultValue;
    QVariant otherValue;
};

const QList<PropertyCase>& properties()
{
    static const QList<PropertyCase> cases{
        {"monitoredRange", QStringLiteral("3000-9999"), QStringLiteral("8000")},
        {"excludedPorts", QVariant::fromValue(QList<qint64>{5000, 7000}),
         QVariant::fromValue(QList<qint64>{22})},
        {"scanInterval", 4.0, 0.5},
        {"launchAtLogin", false, true},
        {"showInDock", false, true},
        {"notifyOnNewPort", false, true},
        {"hotkey", QVariant::fromValue(KeyCombo{}), QVariant::fromValue(KeyCombo{49, 256})},
        {"historyRetentionDays", 15, 30},
        {"tunnelDetectionEnabled", true, false},
        {"dockerDetectionEnabled", true, false},
        {"ngrokAPIPort", 0, 4040},
        {"hasShownLoginPrompt", false, true},
        {"hasShownUpdatePrompt", false, true},
    };
    return cases;
}

QJsonObject data(const QByteArray& bytes)
{
    return {{QStringLiteral("base64"), QString::fromLatin1(bytes.toBase64())}};
}

// What the store holds after any write on default settings.
QJsonObject storedDefaults()
{
    return {{"monitoredRange", "3000-9999"},
            {"excludedPorts", QJsonArray{5000, 7000}},
            {"scanInterval", 4.0},
            {"launchAtLogin", false},
            {"showInDock", false},
            {"notifyOnNewPort", false},
            {"hotkey", data(R"({"keyCode":0,"modifiers":0})")},
            {"historyRetentionDays", 15},
            {"tunnelDetectionEnabled", true},
            {"dockerDetectionEnabled", true},
            {"ngrokAPIPort", 0},
            {"hasShownLoginPrompt", false},
            {"hasShownUpdatePrompt", false}};
}

// One spy per NOTIFY signal, keyed like properties().
std::vector<std::unique_ptr<QSignalSpy>> spyOnAll(const AppSettings& settings)
{
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (const PropertyCase& property : properties()) {
        const QMetaObject* meta = settings.metaObject();
        const QMetaMethod notify = meta->property(meta->indexOfProperty(property.name)).notifySignal();
        spies.push_back(std::make_unique<QSignalSpy>(&settings, notify));
    }
    return spies;
}

} // namespace

class TstAppSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void freshDefaultsAndFirstWrite()
    {
        MemoryDefaultsStore store;
        AppSettings settings(store);
        for (const PropertyCase& property : properties())
            QCOMPARE(settings.property(property.name), property.defaultValue);
        QCOMPARE(store.writeCount(), 0);
        QVERIFY(!settings.isLoading());

        settings.setShowInDock(false);
        QCOMPARE(store.writeCount(), 13);
        QCOMPARE(store.values(), storedDefaults());
    }

    void load_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<QVariant>("expected");
        auto ports = [](QList<qint64> list) { return QVariant::fromValue(list); };
        auto combo = [](quint32 key, quint32 mods) { return QVariant::fromValue(KeyCombo{key, mods}); };
        QTest::newRow("range unvalidated") << "monitoredRange" << QJsonValue("abc") << QVariant("abc");
        QTest::newRow("range as number") << "monitoredRange" << QJsonValue(3000) << QVariant("3000-9999");
        QTest::newRow("ports") << "excludedPorts" << QJsonValue(QJsonArray{22, 8080}) << ports({22, 8080});
        QTest::newRow("ports empty") << "excludedPorts" << QJsonValue(QJsonArray{}) << ports({});
        QTest::newRow("ports with text")
            << "excludedPorts" << QJsonValue(QJsonArray{22, "x"}) << ports({5000, 7000});
        QTest::newRow("ports as text") << "excludedPorts" << QJsonValue("22") << ports({5000, 7000});
        QTest::newRow("interval 0") << "scanInterval" << QJsonValue(0) << QVariant(4.0);
        QTest::newRow("interval as text") << "scanInterval" << QJsonValue("2") << QVariant(4.0);
        QTest::newRow("interval 0.5") << "scanInterval" << QJsonValue(0.5) << QVariant(0.5);
        QTest::newRow("dock as number") << "showInDock" << QJsonValue(1) << QVariant(true);
        QTest::newRow("notify as text") << "notifyOnNewPort" << QJsonValue("yes") << QVariant(false);
        QTest::newRow("hotkey") << "hotkey" << QJsonValue(data(R"({"keyCode":49,"modifiers":256})"))
                                << combo(49, 256);
        QTest::newRow("hotkey not json") << "hotkey" << QJsonValue(data("\x01garbage")) << combo(0, 0);
        QTest::newRow("hotkey negative")
            << "hotkey" << QJsonValue(data(R"({"keyCode":-1,"modifiers":0})")) << combo(0, 0);
        QTest::newRow("hotkey bad base64")
            << "hotkey" << QJsonValue(QJsonObject{{"base64", "!!"}}) << combo(0, 0);
        QTest::newRow("hotkey as text")
            << "hotkey" << QJsonValue(R"({"keyCode":49,"modifiers":256})") << combo(0, 0);
        QTest::newRow("retention 0") << "historyRetentionDays" << QJsonValue(0) << QVariant(15);
        QTest::newRow("retention -3") << "historyRetentionDays" << QJsonValue(-3) << QVariant(-3);
        QTest::newRow("retention as text") << "historyRetentionDays" << QJsonValue("30") << QVariant(15);
        QTest::newRow("tunnels false") << "tunnelDetectionEnabled" << QJsonValue(false) << QVariant(false);
        QTest::newRow("docker false") << "dockerDetectionEnabled" << QJsonValue(false) << QVariant(false);
        QTest::newRow("ngrok port") << "ngrokAPIPort" << QJsonValue(4041) << QVariant(4041);
        QTest::newRow("ngrok as text") << "ngrokAPIPort" << QJsonValue("4041") << QVariant(0);
        QTest::newRow("login prompt") << "hasShownLoginPrompt" << QJsonValue(true) << QVariant(true);
    }
    void load()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, stored);
        QFETCH(QVariant, expected);
        MemoryDefaultsStore store(QJsonObject{{key, stored}});
        AppSettings settings(store);
        QCOMPARE(settings.property(qPrintable(key)), expected);
        for (const PropertyCase& property : properties()) {
            if (key != QLatin1StringView(property.name))
                QCOMPARE(settings.property(property.name), property.defaultValue);
        }
        QCOMPARE(store.writeCount(), 0);
    }

    void notifiesOnlyRealChanges_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < properties().size(); ++i)
            QTest::newRow(properties()[i].name) << i;
    }
    void notifiesOnlyRealChanges()
    {
        QFETCH(int, index);
        const PropertyCase& property = properties()[index];
        MemoryDefaultsStore store;
        AppSettings settings(store);
        const auto spies = spyOnAll(settings);

        QVERIFY(settings.setProperty(property.name, property.defaultValue));
        QCOMPARE(store.writeCount(), 13);
        for (const auto& spy : spies)
            QCOMPARE(spy->count(), 0);

        QVERIFY(settings.setProperty(property.name, property.otherValue));
        QVERIFY(settings.setProperty(property.name, property.otherValue));
        QCOMPARE(store.writeCount(), 39);
        for (int i = 0; i < properties().size(); ++i)
            QCOMPARE(spies[i]->count(), i == index ? 1 : 0);
        QCOMPARE(settings.property(property.name), property.otherValue);
    }

    void resetToDefaults()
    {
        MemoryDefaultsStore store;
        AppSettings settings(store);
        for (const PropertyCase& property : properties())
            settings.setProperty(property.name, property.otherValue);
        const auto spies = spyOnAll(settings);
        settings.resetToDefaults();
        for (int i = 0; i < properties().size(); ++i) {
            QCOMPARE(settings.property(properties()[i].name), properties()[i].defaultValue);
            QCOMPARE(spies[i]->count(), 1);
        }
        QCOMPARE(store.values(), storedDefaults());
    }
};

QTEST_GUILESS_MAIN(TstAppSettings)
#include "tst_appsettings.moc"
