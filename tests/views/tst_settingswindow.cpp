// The settings window over a real AppSettings on an in-memory store, tab by tab.

#include "ScriptedMachine.h"
#include "TestSupport.h"
#include "monitor/PortHistory.h"
#include "services/LoginItem.h"
#include "services/PortNotifier.h"
#include "services/UpdaterController.h"
#include "services/hotkey/HotkeyRegistrar.h"
#include "services/hotkey/KeyRecorderButton.h"
#include "services/hotkey/KeyRecorderView.h"
#include "settings/AppSettings.h"
#include "views/AboutView.h"
#include "views/HistorySettingsView.h"
#include "views/PortsSettingsView.h"
#include "views/PrefsSettingsView.h"
#include "views/SettingsForm.h"
#include "views/SettingsView.h"
#include "views/SettingsWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace varlo;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(varlo::PortNotifier::AuthorizationStatus)

namespace {

using Ports = QList<qint64>;

// Records what the registrar asks of the desktop.
struct RecordingBackend final : HotkeyBackend
{
    QStringList* calls;
    std::function<void()>* press;
    RecordingBackend(QStringList* c, std::function<void()>* p) : calls(c), press(p) {}
    void installListener(std::function<void()> onPressed) override { *press = std::move(onPressed); }
    void removeListener() override {}
    GrabResult grab(const KeyCombo& combo, QString*) override
    {
        *calls << "grab " + combo.displayString();
        return GrabResult::Grabbed;
    }
    void release() override { *calls << QStringLiteral("release"); }
};

// A notifier whose permission answer is fixed, so no bus is needed.
class FixedNotifier : public PortNotifier
{
public:
    explicit FixedNotifier(AuthorizationStatus status) : PortNotifier(QDBusConnection(QString())), m_status(status) {}

protected:
    QCoro::Task<AuthorizationStatus> authorizationStatus() override { co_return m_status; }
    QCoro::Task<AuthorizationAnswer> requestAuthorization() override { co_return AuthorizationAnswer{false, {}}; }

private:
    AuthorizationStatus m_status;
};

struct Fixture
{
    MemoryDefaultsStore store;
    AppSettings settings{store};

    explicit Fixture(QJsonObject stored = {}) : store(std::move(stored)) {}
    SettingsContext context() { return SettingsContext{&settings, nullptr, nullptr, {}, nullptr, nullptr, nullptr}; }
};

template<typename T> T* child(QWidget* parent, const char* name)
{
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no %s named %s", T::staticMetaObject.className(), name);
    return found;
}

bool shows(QWidget* view, const QString& text)
{
    for (QLabel* label : view->findChildren<QLabel*>())
        if (label->text() == text && label->isVisibleTo(view))
            return true;
    return false;
}

void type(QLineEdit* field, const QString& text)
{
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

} // namespace

class SettingsWindowTest : public QObject
{
    Q_OBJECT

private slots:
    // ---- Ports ----

    void rangeValidation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("invalid");
        QTest::newRow("range and port") << "3000-9999, 8080" << false;
        QTest::newRow("one port") << "8080" << false;
        QTest::newRow("a bad piece is ignored") << "3000-9999, abc" << false;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("letters") << "abc" << true;
        QTest::newRow("reversed") << "9999-3000" << true;
    }
    void rangeValidation()
    {
        QFETCH(QString, text);
        QFETCH(bool, invalid);
        Fixture f;
        PortsSettingsView view(f.settings);
        view.show();
        auto* field = child<QLineEdit>(&view, "monitoredRange");
        type(field, text);
        QCOMPARE(f.settings.monitoredRange(), text); // every keystroke is stored as typed
        QCOMPARE(field->text(), text);
        QCOMPARE(shows(&view, u"Invalid \u2014 use commas and dashes: 3000-9999, 8080"_s), invalid);
    }

    void addPort_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("viaReturn");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<Ports>("expected");
        QTest::addColumn<bool>("error");
        const Ports defaults{5000, 7000};
        for (const char* refused : {"0", "65536", "abc", " 22", "", "70000", "99999999999999999999"})
            QTest::addRow("refused '%s'", refused) << refused << true << false << defaults << true;
        QTest::newRow("22 first") << "22" << false << true << Ports{22, 5000, 7000} << false;
        QTest::newRow("sorted between") << "6000" << true << true << Ports{5000, 6000, 7000} << false;
        QTest::newRow("65535 last") << "65535" << false << true << Ports{5000, 7000, 65535} << false;
        QTest::newRow("plus sign") << "+1" << false << true << Ports{1, 5000, 7000} << false;
        QTest::newRow("duplicate") << "7000" << true << true << defaults << false;
    }
    void addPort()
    {
        QFETCH(QString, text);
        QFETCH(bool, viaReturn);
        QFETCH(bool, enabled);
        QFETCH(Ports, expected);
        QFETCH(bool, error);
        Fixture f;
        PortsSettingsView view(f.settings);
        view.show();
        auto* field = child<QLineEdit>(&view, "newPort");
        auto* add = child<QPushButton>(&view, "addPort");
        // A standing error goes with the next successful or duplicate add.
        QTest::keyClicks(field, QStringLiteral("x"));
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(shows(&view, PortsSettingsView::addPortErrorText()));
        type(field, text);
        QCOMPARE(add->isEnabled(), enabled);
        if (viaReturn)
            QTest::keyClick(field, Qt::Key_Return);
        else
            add->click();
        QCOMPARE(f.settings.excludedPorts(), expected);
        QCOMPARE(shows(&view, PortsSettingsView::addPortErrorText()), error);
        QCOMPARE(field->text(), error ? text : QString());
    }

    void removePort_data()
    {
        QTest::addColumn<Ports>("stored");
        QTest::addColumn<int>("row");
        QTest::addColumn<Ports>("expected");
        QTest::newRow("first of two") << Ports{5000, 7000} << 0 << Ports{7000};
        QTest::newRow("second of two") << Ports{5000, 7000} << 1 << Ports{5000};
        QTest::newRow("the last one") << Ports{7000} << 0 << Ports{};
        QTest::newRow("every copy, order kept") << Ports{7000, 5000, 7000, 3000} << 2 << Ports{5000, 3000};
    }
    void removePort()
    {
        QFETCH(Ports, stored);
        QFETCH(int, row);
        QFETCH(Ports, expected);
        Fixture f;
        f.settings.setExcludedPorts(stored);
        PortsSettingsView view(f.settings);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* list = view.findChild<ExcludedPortList*>();
        QVERIFY(!shows(&view, u"No exclusions"_s));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->removeButtonRect(row).center());
        QCOMPARE(f.settings.excludedPorts(), expected);
        QCOMPARE(list->count(), expected.size());
        QCOMPARE(shows(&view, u"No exclusions"_s), expected.isEmpty());
        QCOMPARE(list->isVisibleTo(&view), !expected.isEmpty());
    }

    void resetToDefaultsRestoresEverySetting()
    {
        Fixture f;
        f.settings.setMonitoredRange(u"22"_s);
        f.settings.setExcludedPorts({});
        f.settings.setScanInterval(10);
        f.settings.setHotkey({40, CarbonModifier::Control});
        f.settings.setHistoryRetentionDays(90);
        f.settings.setNgrokAPIPort(4041);
        for (const char* flag : {"launchAtLogin", "showInDock", "notifyOnNewPort", "hasShownLoginPrompt",
                                 "hasShownUpdatePrompt", "tunnelDetectionEnabled", "dockerDetectionEnabled"})
            f.settings.setProperty(flag, !f.settings.property(flag).toBool());
        PortsSettingsView view(f.settings);
        view.show();
        child<QPushButton>(&view, "resetToDefaults")->click();
        MemoryDefaultsStore freshStore;
        const AppSettings fresh(freshStore);
        const QMetaObject& meta = AppSettings::staticMetaObject;
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
            QVERIFY2(meta.property(i).read(&f.settings) == meta.property(i).read(&fresh), meta.property(i).name());
        QCOMPARE(child<QLineEdit>(&view, "monitoredRange")->text(), u"3000-9999"_s);
        QCOMPARE(view.findChild<ExcludedPortList*>()->count(), 2);
    }

    // ---- General ----

    void loginItem_data()
    {
        QTest::addColumn<bool>("blocked");      // the autostart folder cannot be made
        QTest::addColumn<bool>("unblockAfter"); // then it can, and the user tries again
        QTest::addColumn<bool>("checked");
        QTest::addColumn<bool>("errorShown");
        QTest::newRow("registration fails") << true << false << false << true;
        QTest::newRow("registration succeeds") << false << false << true << false;
        QTest::newRow("success after a failure clears the error") << true << true << true << false;
    }
    void loginItem()
    {
        QFETCH(bool, blocked);
        QFETCH(bool, unblockAfter);
        QFETCH(bool, checked);
        QFETCH(bool, errorShown);
        QTemporaryDir dir;
        const QString config = dir.filePath(u"config"_s);
        if (blocked) {
            QFile file(config); // a file where the folder must go
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const LoginItem item(config, QCoreApplication::applicationFilePath());
        Fixture f;
        SettingsContext context = f.context();
        context.loginItem = &item;
        PrefsSettingsView view(context);
        view.show();
        auto* toggle = child<QCheckBox>(&view, "launchAtLogin");
        QVERIFY(!toggle->isChecked());
        toggle->click();
        if (unblockAfter) {
            QVERIFY(child<SymbolLabel>(&view, "loginItemError")->isVisibleTo(&view));
            QVERIFY(QFile::remove(config));
            toggle->click();
        }
        QCOMPARE(toggle->isChecked(), checked);
        QCOMPARE(item.isEnabled(), checked);
        QCOMPARE(f.settings.launchAtLogin(), checked);
        auto* error = child<SymbolLabel>(&view, "loginItemError");
        QCOMPARE(error->isVisibleTo(&view), errorShown);
        QCOMPARE(error->text().isEmpty(), !errorShown && !unblockAfter);
        if (!checked)
            QCOMPARE(f.store.writeCount(), 0);
    }

    // The scan interval (General) and the history retention (History).
    void pickers_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("choose");
        QTest::addColumn<QJsonValue>("expected");
        const QString interval = u"scanInterval"_s, retention = u"historyRetentionDays"_s;
        QTest::newRow("4 seconds shown, choose 10") << interval << QJsonValue(4.0) << 2 << 4 << QJsonValue(10.0);
        QTest::newRow("choose 1 second") << interval << QJsonValue(4.0) << 2 << 0 << QJsonValue(1.0);
        QTest::newRow("choose 5 seconds") << interval << QJsonValue(4.0) << 2 << 3 << QJsonValue(5.0);
        QTest::newRow("3 s selects nothing") << interval << QJsonValue(3.0) << -1 << 1 << QJsonValue(2.0);
        QTest::newRow("1e308 s selects nothing") << interval << QJsonValue(1e308) << -1 << 2 << QJsonValue(4.0);
        QTest::newRow("15 days shown, choose 60") << retention << QJsonValue(15) << 1 << 3 << QJsonValue(60);
        QTest::newRow("90 days shown, choose 7") << retention << QJsonValue(90) << 4 << 0 << QJsonValue(7);
        QTest::newRow("45 days selects nothing") << retention << QJsonValue(45) << -1 << 4 << QJsonValue(90);
    }
    void pickers()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, stored);
        QFETCH(int, shown);
        QFETCH(int, choose);
        QFETCH(QJsonValue, expected);
        Fixture f(QJsonObject{{key, stored}});
        SettingsView view(f.context());
        auto* picker = view.findChild<QComboBox*>(key);
        QStringList titles;
        for (int i = 0; i < picker->count(); ++i)
            titles << picker->itemText(i);
        const QStringList offered = key == u"scanInterval"_s
                                        ? QStringList{u"1 second"_s, u"2 seconds"_s, u"4 seconds"_s, u"5 seconds"_s,
                                                      u"10 seconds"_s}
                                        : QStringList{u"7 days"_s, u"15 days"_s, u"30 days"_s, u"60 days"_s,
                                                      u"90 days"_s};
        QCOMPARE(titles, offered);
        QCOMPARE(picker->currentIndex(), shown);
        QCOMPARE(f.store.writeCount(), 0);
        Q_EMIT picker->activated(choose);
        QCOMPARE(f.store.values().value(key), expected);
        QCOMPARE(f.settings.property(key.toLatin1()).toDouble(), expected.toDouble());
    }

    void toggles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("revealed"); // a field shown only while the toggle is on
        QTest::newRow("detect tunnels") << "tunnelDetectionEnabled" << "ngrokAPIPort";
        QTest::newRow("detect Docker") << "dockerDetectionEnabled" << "";
        QTest::newRow("show in Dock") << "showInDock" << "";
        QTest::newRow("notify without a notifier") << "notifyOnNewPort" << "";
    }
    void toggles()
    {
        QFETCH(QString, name);
        QFETCH(QString, revealed);
        Fixture f(QJsonObject{{u"ngrokAPIPort"_s, 4041}});
        PrefsSettingsView view(f.context());
        view.show();
        auto* toggle = view.findChild<QCheckBox*>(name);
        auto* field = revealed.isEmpty() ? nullptr : view.findChild<QLineEdit*>(revealed);
        const QByteArray property = name.toLatin1();
        const bool before = f.settings.property(property).toBool();
        QCOMPARE(toggle->isChecked(), before);
        for (const bool on : {!before, before}) {
            toggle->click();
            QCOMPARE(f.settings.property(property).toBool(), on);
            QCOMPARE(f.store.values().value(name).toBool(), on);
            if (field)
                QCOMPARE(field->isVisibleTo(&view), on);
        }
        if (field)
            QCOMPARE(field->text(), u"4041"_s);
        f.settings.setProperty(property, !before); // a change elsewhere shows too
        QCOMPARE(toggle->isChecked(), !before);
    }

    void ngrokPort_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("written");
        QTest::newRow("4041") << "4041" << 4041 << true;
        QTest::newRow("0 auto-detects") << "0" << 0 << true;
        QTest::newRow("abc") << "abc" << 8080 << false;
        QTest::newRow("empty") << "" << 8080 << false;
        QTest::newRow("negative") << "-5" << 8080 << false;
        QTest::newRow("past the last port") << "70000" << 8080 << false;
        QTest::newRow("same as stored") << "8080" << 8080 << false;
    }
    void ngrokPort()
    {
        QFETCH(QString, typed);
        QFETCH(int, expected);
        QFETCH(bool, written);
        Fixture f(QJsonObject{{u"ngrokAPIPort"_s, 8080}});
        PrefsSettingsView view(f.context());
        view.show();
        auto* field = child<QLineEdit>(&view, "ngrokAPIPort");
        type(field, typed);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(f.settings.ngrokAPIPort(), expected);
        QCOMPARE(f.store.writeCount() > 0, written);
        QCOMPARE(field->text(), QString::number(expected)); // what is stored, not what was typed
    }

    void notificationPermission_data()
    {
        QTest::addColumn<PortNotifier::AuthorizationStatus>("status");
        QTest::addColumn<bool>("storedOn");
        QTest::addColumn<bool>("warned");
        using S = PortNotifier::AuthorizationStatus;
        QTest::newRow("turned on, denied") << S::denied << false << true;
        QTest::newRow("turned on, request refused") << S::notDetermined << false << true;
        QTest::newRow("turned on, allowed") << S::authorized << false << false;
        QTest::newRow("on when shown, denied") << S::denied << true << true;
        QTest::newRow("on when shown, allowed") << S::authorized << true << false;
    }
    void notificationPermission()
    {
        QFETCH(PortNotifier::AuthorizationStatus, status);
        QFETCH(bool, storedOn);
        QFETCH(bool, warned);
        FixedNotifier notifier(status);
        Fixture f(QJsonObject{{u"notifyOnNewPort"_s, storedOn}});
        SettingsContext context = f.context();
        context.notifier = &notifier;
        PrefsSettingsView view(context);
        view.show();
        auto* toggle = child<QCheckBox>(&view, "notifyOnNewPort");
        auto* row = child<QWidget>(&view, "notifyDenied");
        if (!storedOn)
            toggle->click();
        QVERIFY(f.settings.notifyOnNewPort());
        QTRY_COMPARE_WITH_TIMEOUT(row->isVisibleTo(&view), warned, 2000);
        QTest::qWait(20);
        QCOMPARE(row->isVisibleTo(&view), warned);
        toggle->click();
        QVERIFY(!f.settings.notifyOnNewPort());
        QVERIFY(!row->isVisibleTo(&view));
        QTest::qWait(20); // a late answer must not bring the warning back
        QVERIFY(!row->isVisibleTo(&view));
    }

    void shortcut_data()
    {
        QTest::addColumn<bool>("withRegistrar");
        QTest::addColumn<bool>("viaEmptyCombo"); // else the clear button
        QTest::newRow("clear button") << true << false;
        QTest::newRow("empty combination") << true << true;
        QTest::newRow("no registrar") << false << false;
    }
    void shortcut()
    {
        QFETCH(bool, withRegistrar);
        QFETCH(bool, viaEmptyCombo);
        QStringList calls;
        std::function<void()> press;
        HotkeyRegistrar registrar(std::make_unique<RecordingBackend>(&calls, &press));
        int toggled = 0;
        Fixture f;
        SettingsContext context = f.context();
        context.hotkeyRegistrar = withRegistrar ? &registrar : nullptr;
        context.hotkeyHandler = [&toggled] { ++toggled; };
        PrefsSettingsView view(context);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        auto* recorder = child<KeyRecorderView>(&view, "hotkey");
        auto* clear = child<QToolButton>(&view, "clearHotkey");
        QVERIFY(!clear->isVisibleTo(&view));

        QTest::mouseClick(recorder->button(), Qt::LeftButton);
        QTest::keyClick(recorder->button(), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
        const KeyCombo controlOptionK{40, CarbonModifier::Control | CarbonModifier::Option};
        QCOMPARE(f.settings.hotkey(), controlOptionK);
        QVERIFY(clear->isVisibleTo(&view));
        QCOMPARE(calls, withRegistrar ? QStringList{u"grab ⌃⌥K"_s} : QStringList{});
        if (withRegistrar) {
            press();
            QTRY_COMPARE_WITH_TIMEOUT(toggled, 1, 1000);
        }

        if (viaEmptyCombo)
            Q_EMIT recorder->comboRecorded(KeyCombo{});
        else
            clear->click();
        QVERIFY(f.settings.hotkey().isEmpty());
        QVERIFY(!clear->isVisibleTo(&view));
        QVERIFY(!registrar.isRegistered());
        QCOMPARE(calls, withRegistrar ? (QStringList{u"grab ⌃⌥K"_s, u"release"_s}) : QStringList{});
    }

    void updatesSection_data()
    {
        QTest::addColumn<int>("updater"); // 0 none, 1 built without a feed, 2 available
        QTest::newRow("no updater") << 0;
        QTest::newRow("updater unavailable") << 1;
        QTest::newRow("updater available") << 2;
    }
    void updatesSection()
    {
        QFETCH(int, updater);
        MemoryDefaultsStore updaterStore;
        UpdaterController::Config config;
        config.enabled = updater == 2;
        config.checker.feedUrl = QUrl(u"https://updates.example/appcast.xml"_s);
        UpdaterController controller(
            updaterStore, config, []() -> QCoro::Task<UpdateCheckResult> { co_return UpdateCheckResult{}; },
            [] { return QDateTime::currentDateTimeUtc(); });
        Fixture f;
        SettingsContext context = f.context();
        context.updater = updater > 0 ? &controller : nullptr;
        PrefsSettingsView view(context);
        QCOMPARE(view.findChild<QPushButton*>(u"checkNow"_s) != nullptr, updater == 2);
        QCOMPARE(shows(&view, u"Updates"_s), updater == 2);
        if (updater == 2) {
            auto* automatic = child<QCheckBox>(&view, "automaticUpdates");
            const bool before = controller.automaticallyChecksForUpdates();
            QCOMPARE(automatic->isChecked(), before);
            automatic->click();
            QCOMPARE(controller.automaticallyChecksForUpdates(), !before);
            QCOMPARE(f.store.writeCount(), 0); // not a setting of AppSettings
        }
    }

    // ---- History ----

    void historyTable()
    {
        QTemporaryDir dir;
        ReferenceTime now = currentReferenceTime() - 3 * 3600;
        PortHistory history(dir.filePath(u"port-history.json"_s), [&now] { return now; });
        history.load(15);
        history.waitForLoad();
        const auto entry = [](qint64 port, const char* name) { return test::listener(port, port, name); };
        Fixture f;
        HistorySettingsView view(&history, f.settings, SettingsView::retentionOptions);
        view.show();
        auto* table = child<QTableWidget>(&view, "historyTable");
        auto* clear = child<QPushButton>(&view, "clearHistory");
        QVERIFY(!clear->isEnabled());
        QVERIFY(shows(&view, u"No History Yet"_s));

        const ReferenceTime first = now;
        history.record({entry(3000, "node"), entry(4000, "<b>vite</b>"), entry(5173, "ruby")});
        now += 3600;
        history.record({entry(4000, "<b>vite</b>"), entry(5173, "ruby")});
        now += 3600;
        history.record({entry(5173, "ruby")}); // live: the table follows
        QCOMPARE(table->rowCount(), 3);
        QVERIFY(table->isVisibleTo(&view) && !shows(&view, u"No History Yet"_s));
        QVERIFY(clear->isEnabled());
        const QStringList ports{table->item(0, 0)->text(), table->item(1, 0)->text(), table->item(2, 0)->text()};
        QCOMPARE(ports, (QStringList{u"5173"_s, u"4000"_s, u"3000"_s}));
        QCOMPARE(table->item(1, HistorySettingsView::ProcessColumn)->text(), u"<b>vite</b>"_s);
        QCOMPARE(table->item(0, HistorySettingsView::StatusColumn)->text(), u"Active"_s);
        QCOMPARE(table->item(0, HistorySettingsView::StatusColumn)->foreground().color(),
                 style::tintColor(style::Tint::Green, view.palette()));
        const PortHistoryEntry past = history.byPort().value(3000);
        QCOMPARE(table->item(2, HistorySettingsView::StatusColumn)->text(), history.lastSeenText(past));
        QCOMPARE(table->item(2, HistorySettingsView::FirstSeenColumn)->text(),
                 HistorySettingsView::timeOfDay(first));

        clear->click();
        QVERIFY(history.byPort().isEmpty());
        QVERIFY(!clear->isEnabled());
        QVERIFY(shows(&view, u"No History Yet"_s));
        history.waitForWrites();
    }

    void timeOfDay_data()
    {
        QTest::addColumn<double>("time");
        QTest::addColumn<QString>("expected");
        const QDateTime yesterday = QDateTime::currentDateTime().addDays(-1);
        QTest::newRow("yesterday, time only")
            << yesterday.toSecsSinceEpoch() - referenceEpochUnixOffset
            << QLocale().toString(QTime::fromMSecsSinceStartOfDay(yesterday.time().msecsSinceStartOfDay() / 1000 * 1000),
                                  QLocale::ShortFormat);
        QTest::newRow("absurdly late") << 1e308 << u"\u2014"_s;
        QTest::newRow("absurdly early") << -1e308 << u"\u2014"_s;
        QTest::newRow("not a number") << std::nan("") << u"\u2014"_s;
    }
    void timeOfDay()
    {
        QFETCH(double, time);
        QFETCH(QString, expected);
        QCOMPARE(HistorySettingsView::timeOfDay(time), expected);
    }

    // ---- About ----

    void about_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("homepage");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("expected");
        QTest::newRow("every address") << "1.2.3" << "https://varlo.example/docs" << "help@varlo.example"
                                       << "Version 1.2.3";
        QTest::newRow("no version, no addresses") << "" << "" << "" << u"Version \u2014"_s;
    }
    void about()
    {
        QFETCH(QString, version);
        QFETCH(QString, homepage);
        QFETCH(QString, email);
        QFETCH(QString, expected);
        AboutView view(AboutView::Info{version, QUrl(homepage), email});
        QCOMPARE(child<QLabel>(&view, "version")->text(), expected);
        auto* site = view.findChild<QLabel*>(u"homepage"_s);
        auto* support = view.findChild<QLabel*>(u"support"_s);
        QCOMPARE(site != nullptr, !homepage.isEmpty());
        QCOMPARE(support != nullptr, !email.isEmpty());
        if (site) {
            QVERIFY(site->text().contains(u">varlo.example</a>"_s));
            QVERIFY(support->text().contains(u"href=\"mailto:help@varlo.example\""_s));
        }
    }

    // ---- The window ----

    void windowReopensOnFirstTab()
    {
        Fixture f;
        SettingsWindow settingsWindow(f.context());
        QSignalSpy created(&settingsWindow, &SettingsWindow::windowCreated);
        settingsWindow.show();
        QPointer<QWidget> first = settingsWindow.window();
        QVERIFY(first);
        QCOMPARE(created.size(), 1);
        QVERIFY(QTest::qWaitForWindowActive(first));
        QCOMPARE(first->width(), SettingsView::width);
        // No field starts focused.
        QTest::qWait(20);
        QVERIFY(!qobject_cast<QLineEdit*>(QApplication::focusWidget()));
        QVERIFY(!qobject_cast<KeyRecorderButton*>(QApplication::focusWidget()));

        auto* view = static_cast<SettingsView*>(first.data());
        QCOMPARE(view->tabBar()->count(), 4);
        const int portsHeight = first->height();
        view->setCurrentIndex(3);
        QTRY_VERIFY_WITH_TIMEOUT(first->height() != portsHeight, 1000); // follows the tab
        settingsWindow.show();                                        // raises the open one
        QCOMPARE(settingsWindow.window(), first.data());
        QCOMPARE(created.size(), 1);

        first->close();
        QTRY_VERIFY_WITH_TIMEOUT(!first, 1000);
        QVERIFY(!settingsWindow.window());
        settingsWindow.show();
        QCOMPARE(created.size(), 2);
        QCOMPARE(static_cast<SettingsView*>(settingsWindow.window())->currentIndex(), 0);
        QCOMPARE(f.store.writeCount(), 0);
    }

    void windowFitsTheErrorTexts_data()
    {
        QTest::addColumn<bool>("storedInvalid");
        QTest::newRow("typed after opening") << false;
        QTest::newRow("stored before opening") << true;
    }
    void windowFitsTheErrorTexts()
    {
        QFETCH(bool, storedInvalid);
        Fixture f(storedInvalid ? QJsonObject{{u"monitoredRange"_s, u"abc"_s}} : QJsonObject{});
        SettingsWindow settingsWindow(f.context());
        settingsWindow.show();
        QWidget* view = settingsWindow.window();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        auto* list = view->findChild<ExcludedPortList*>();
        if (!storedInvalid) {
            const int before = view->height();
            type(child<QLineEdit>(view, "monitoredRange"), u"abc"_s);
            QTest::keyClick(child<QLineEdit>(view, "newPort"), Qt::Key_Return);
            QTRY_VERIFY_WITH_TIMEOUT(view->height() > before, 1000);
        }
        QTest::qWait(20);
        QCOMPARE(list->height(), list->sizeHint().height());
    }

    void editingEnds_data()
    {
        QTest::addColumn<bool>("switchTab"); // else a click on the form's background
        QTest::newRow("click on the background") << false;
        QTest::newRow("another tab") << true;
    }
    void editingEnds()
    {
        QFETCH(bool, switchTab);
        Fixture f;
        SettingsView view(f.context());
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        auto* field = child<QLineEdit>(&view, "monitoredRange");
        field->setFocus();
        QVERIFY(field->hasFocus());
        if (switchTab)
            view.setCurrentIndex(1);
        else
            QTest::mouseClick(view.findChild<SettingsForm*>(), Qt::LeftButton, {}, QPoint(2, 2));
        // Focus does not wander on to another control (the shortcut recorder records on focus).
        QCOMPARE(QApplication::focusWidget(), nullptr);
    }

    // ---- Bad settings files ----

    void absurdSettingsOpenWithoutWriting()
    {
        QJsonArray ports;
        for (int i = 0; i < 10000; ++i)
            ports.append(i + 1);
        Fixture f(QJsonObject{
            {u"scanInterval"_s, 1e308},
            {u"ngrokAPIPort"_s, -5},
            {u"monitoredRange"_s, QString(10000, u'9')},
            {u"excludedPorts"_s, ports},
            {u"historyRetentionDays"_s, -3},
            {u"hotkey"_s, QJsonObject{{u"base64"_s, u"not a combo"_s}}},
        });
        QCOMPARE(f.settings.excludedPorts().size(), 10000);
        QElapsedTimer clock;
        clock.start();
        SettingsWindow settingsWindow(f.context());
        settingsWindow.show();
        auto* view = static_cast<SettingsView*>(settingsWindow.window());
        QVERIFY(QTest::qWaitForWindowExposed(view));
        for (int tab = 0; tab < view->tabBar()->count(); ++tab) {
            view->setCurrentIndex(tab);
            QTest::qWait(10);
        }
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        // Fits the screen: the port list scrolls rather than growing.
        view->setCurrentIndex(0);
        QTRY_VERIFY_WITH_TIMEOUT(view->height() < 1000, 1000);
        // Leaving the ngrok field with its absurd value untouched writes nothing either.
        view->setCurrentIndex(1);
        auto* ngrok = child<QLineEdit>(view, "ngrokAPIPort");
        QCOMPARE(ngrok->text(), u"-5"_s);
        ngrok->setFocus();
        ngrok->clearFocus();
        QCOMPARE(f.store.writeCount(), 0);
        QCOMPARE(f.settings.ngrokAPIPort(), -5);
    }
};

QTEST_MAIN(SettingsWindowTest)
#include "tst_settingswindow.moc"
