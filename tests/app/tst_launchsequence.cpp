#include "app/AppDelegate.h"
#include "app/PanelController.h"
#include "services/PortNotifier.h"
#include "services/UpdaterController.h"
#include "services/hotkey/HotkeyRegistrar.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace varlo;

namespace {

const KeyCombo controlOptionP{35, CarbonModifier::Control | CarbonModifier::Option};

// Answers each question with the next scripted button and records what was shown.
struct ScriptedAlerts : Alerts
{
    QList<int> answers;
    QStringList shown;
    std::function<void()> whileAsking;

    int ask(const AlertText& text, const QStringList& buttons) override
    {
        shown.append(text.message + " [" + buttons.join('|') + ']');
        if (whileAsking)
            whileAsking();
        return answers.isEmpty() ? static_cast<int>(buttons.size()) - 1 : answers.takeFirst();
    }
    void inform(const AlertText& text) override { shown.append(text.message + ": " + text.informative); }
};

struct RecordingBackend final : HotkeyBackend
{
    QStringList* grabs;
    explicit RecordingBackend(QStringList* log) : grabs(log) {}
    void installListener(std::function<void()>) override {}
    void removeListener() override {}
    GrabResult grab(const KeyCombo& combo, QString*) override
    {
        grabs->append(combo.displayString());
        return GrabResult::Grabbed;
    }
    void release() override {}
};

struct NoPorts : PortSource
{
    QCoro::Task<std::optional<QList<PortEntry>>> scan(bool) override { co_return QList<PortEntry>{}; }
};

// One launch of the application on a store that outlives it, as the settings file does.
struct Launch
{
    QTemporaryDir dir;
    MemoryDefaultsStore& store;
    AppSettings settings{store};
    std::unique_ptr<UpdaterController> updater;
    QStringList grabs;
    HotkeyRegistrar hotkeys{std::make_unique<RecordingBackend>(&grabs)};
    PortNotifier notifier{QDBusConnection(QString())};
    ScriptedAlerts alerts;
    std::unique_ptr<AppDelegate> delegate;

    Launch(MemoryDefaultsStore& defaults, bool withUpdater, bool loginWorks, QList<int> answers)
        : store(defaults)
    {
        if (withUpdater) {
            UpdaterController::Config config;
            config.enabled = true;
            config.checker.feedUrl = QUrl(QStringLiteral("https://updates.example/appcast.xml"));
            updater = std::make_unique<UpdaterController>(
                store, config, []() -> QCoro::Task<UpdateCheckResult> { co_return UpdateCheckResult{}; },
                [] { return QDateTime::currentDateTimeUtc(); });
        }
        alerts.answers = std::move(answers);
        AppParts parts;
        parts.settings = &settings;
        parts.services.scanner = std::make_unique<NoPorts>();
        parts.services.detectTunnels = [](int) -> QCoro::Task<TunnelMap> { co_return TunnelMap{}; };
        parts.services.detectContainers = []() -> QCoro::Task<DockerContainers> { co_return {}; };
        parts.services.detectVPN = []() -> QCoro::Task<std::optional<QString>> { co_return std::nullopt; };
        parts.services.historyFile = dir.filePath(QStringLiteral("port-history.json"));
        parts.hotkeys = &hotkeys;
        parts.updater = updater.get();
        parts.notifier = &notifier;
        parts.alerts = &alerts;
        // Below a plain file no autostart entry can be written.
        parts.loginItem = LoginItem(loginWorks ? dir.filePath(QStringLiteral("config")) : "/dev/null/config",
                                    QStringLiteral("/usr/bin/varlo"));
        delegate = std::make_unique<AppDelegate>(std::move(parts));
    }

    bool run()
    {
        QSignalSpy ready(delegate.get(), &AppDelegate::ready);
        delegate->launch();
        // The questions come after launch has returned.
        return alerts.shown.isEmpty() && ready.wait(5000);
    }
};

const QString loginQuestion = "Launch Varlo at login? [Launch at Login|Not Now]";
const QString updatesQuestion = "Check for updates automatically? [Check Automatically|Not Now]";

} // namespace

class LaunchSequenceTest : public QObject
{
    Q_OBJECT

private slots:
    void firstRunQuestions_data()
    {
        QTest::addColumn<bool>("loginShown");
        QTest::addColumn<bool>("updatesShown");
        QTest::addColumn<bool>("withUpdater");
        QTest::addColumn<bool>("loginWorks");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("launchAtLogin");
        QTest::addColumn<std::optional<bool>>("automaticChecks"); // nullopt: never stored

        QTest::newRow("first launch, yes to both")
            << false << false << true << true << QList<int>{0, 0}
            << QStringList{loginQuestion, updatesQuestion} << true << std::optional(true);
        QTest::newRow("first launch, Not Now to both")
            << false << false << true << true << QList<int>{1, 1}
            << QStringList{loginQuestion, updatesQuestion} << false << std::optional(false);
        QTest::newRow("login item fails")
            << false << false << true << false << QList<int>{0, 0}
            << QStringList{loginQuestion, "Couldn't enable Launch at Login: <error>", updatesQuestion}
            << false << std::optional(true);
        QTest::newRow("login asked before, updates not")
            << true << false << true << true << QList<int>{1} << QStringList{updatesQuestion} << false
            << std::optional(false);
        QTest::newRow("both asked before") << true << true << true << true << QList<int>{} << QStringList{}
                                           << false << std::optional<bool>();
        QTest::newRow("no updater: no updates question")
            << false << false << false << true << QList<int>{1} << QStringList{loginQuestion} << false
            << std::optional<bool>();
    }
    void firstRunQuestions()
    {
        QFETCH(bool, loginShown);
        QFETCH(bool, updatesShown);
        QFETCH(bool, withUpdater);
        QFETCH(bool, loginWorks);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, expected);

        MemoryDefaultsStore store;
        {
            AppSettings seed(store);
            seed.setHasShownLoginPrompt(loginShown);
            seed.setHasShownUpdatePrompt(updatesShown);
        }
        Launch launch(store, withUpdater, loginWorks, answers);
        QVERIFY(launch.run());

        // The failure's wording comes from the system; only its presence matters.
        QStringList shown = launch.alerts.shown;
        shown.replaceInStrings(QRegularExpression("^(Couldn't enable Launch at Login: ).+$"), "\\1<error>");
        QCOMPARE(shown, expected);
        QFETCH(bool, launchAtLogin);
        QCOMPARE(launch.settings.launchAtLogin(), launchAtLogin);
        QVERIFY(launch.settings.hasShownLoginPrompt());
        QCOMPARE(launch.settings.hasShownUpdatePrompt(), updatesShown || withUpdater);
        QFETCH(std::optional<bool>, automaticChecks);
        const QJsonValue automatic = store.value(UpdaterController::automaticChecksKey);
        QCOMPARE(automatic.isUndefined() ? std::optional<bool>() : std::optional(automatic.toBool()),
                 automaticChecks);
    }

    void laterLaunchesAskNothing()
    {
        MemoryDefaultsStore store;
        for (int i = 0; i < 3; ++i) {
            Launch launch(store, true, true, {1, 0});
            QVERIFY(launch.run());
            QCOMPARE(launch.alerts.shown,
                     (i == 0 ? QStringList{loginQuestion, updatesQuestion} : QStringList()));
        }
    }

    void shortcutOnlyWhenSet()
    {
        for (const KeyCombo& combo : {KeyCombo{}, controlOptionP}) {
            MemoryDefaultsStore store;
            {
                AppSettings seed(store);
                seed.setHasShownLoginPrompt(true);
                seed.setHotkey(combo);
            }
            Launch launch(store, false, true, {});
            QVERIFY(launch.run());
            QCOMPARE(launch.grabs, combo.isEmpty() ? QStringList() : QStringList{combo.displayString()});
        }
    }

    // The shortcut pressed during a question leaves the panel shut; afterwards it works again.
    void shortcutDuringQuestion()
    {
        MemoryDefaultsStore store;
        Launch launch(store, false, true, {1});
        launch.delegate->launch();
        PanelController* panel = launch.delegate->panel();
        panel->hidePanel(); // the window that stands in for the tray
        bool openedMeanwhile = true;
        launch.alerts.whileAsking = [&] {
            launch.delegate->togglePopover();
            openedMeanwhile = panel->isOpen() || panel->panel()->isVisible();
        };
        QSignalSpy ready(launch.delegate.get(), &AppDelegate::ready);
        QVERIFY(ready.wait(5000));
        QCOMPARE(launch.alerts.shown, QStringList{loginQuestion});
        QVERIFY(!openedMeanwhile);
        launch.delegate->togglePopover();
        QVERIFY(panel->isOpen());
    }

    // Without a tray the panel is a window and stays usable; notifications open it.
    void noTrayAndNotifications()
    {
        MemoryDefaultsStore store;
        AppSettings(store).setHasShownLoginPrompt(true);
        Launch launch(store, false, true, {});
        QVERIFY(launch.run());
        PanelController* panel = launch.delegate->panel();
        QVERIFY(panel->isOpen());
        QCOMPARE(panel->panel()->mode(), MenuBarPanel::Mode::window);
        QVERIFY(launch.delegate->monitor()->isPanelOpen());

        launch.delegate->togglePopover();
        QVERIFY(!panel->isOpen() && !launch.delegate->monitor()->isPanelOpen());
        Q_EMIT launch.notifier.notificationActivated(QStringLiteral("port-3000-42"));
        QVERIFY(panel->isOpen());
        Q_EMIT launch.notifier.notificationActivated(QStringLiteral("port-3000-42"));
        QVERIFY(panel->isOpen()); // an open panel stays open

        // Closing the window is quitting, as for any windowed application.
        QSignalSpy quit(launch.delegate.get(), &AppDelegate::quitRequested);
        QVERIFY(panel->panel()->close());
        QCOMPARE(quit.size(), 1);
        QVERIFY(!launch.delegate->monitor()->isPanelOpen());
    }
};

QTEST_MAIN(LaunchSequenceTest)
#include "tst_launchsequence.moc"
