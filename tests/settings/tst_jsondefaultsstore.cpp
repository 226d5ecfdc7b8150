#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QJsonDocument>
#include <QMetaProperty>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

using namespace varlo;

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

class TstJsonDefaultsStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
    TstJsonDefaultsStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_jsondefaultsstore.moc"
