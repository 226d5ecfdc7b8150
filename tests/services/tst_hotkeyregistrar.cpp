#include "services/hotkey/HotkeyRegistrar.h"

#include <QRegularExpression>
#include <QTest>
#include <memory>

using namespace varlo;
using Grab = HotkeyBackend::GrabResult;

const KeyCombo controlOptionK{40, CarbonModifier::Control | CarbonModifier::Option};
const KeyCombo commandS{1, CarbonModifier::Command};

// Records what the registrar asks of it in g_calls, which outlives it.
static QStringList g_calls;
static std::function<void()> g_press;
struct FakeBackend final : HotkeyBackend
{
    Grab result = Grab::Grabbed;
    ~FakeBackend() override { g_calls << "destroyed"; }
    void installListener(std::function<void()> onPressed) override { g_press = std::move(onPressed); }
    void removeListener() override { g_calls << "remove"; }
    GrabResult grab(const KeyCombo& combo, QString* detail) override
    {
        *detail = QStringLiteral("fake reason");
        g_calls << combo.displayString();
        return result;
    }
    void release() override { g_calls << "release"; }
};

class HotkeyRegistrarTest : public QObject
{
    Q_OBJECT

private slots:
    void registrationPressesAndRefusals()
    {
        g_calls.clear();
        auto registrar = std::make_unique<HotkeyRegistrar>(std::make_unique<FakeBackend>());
        int first = 0, second = 0;
        // The preferences re-register from inside a press, replacing the running handler.
        QVERIFY(registrar->registerHotkey(controlOptionK, [&] {
            QVERIFY(registrar->registerHotkey(commandS, [&second] { ++second; }));
            ++first;
        }));
        g_press();
        QCOMPARE(first, 0); // never inside the backend's event dispatch
        QTRY_COMPARE_WITH_TIMEOUT(first, 1, 1000);
        g_press();
        QTRY_COMPARE_WITH_TIMEOUT(second, 1, 1000);
        QCOMPARE(first, 1);

        QVERIFY(!registrar->registerHotkey(KeyCombo{}, [] {}) && !registrar->isRegistered());
        registrar->unregister(); // nothing left to release
        g_press();               // still pending when the registrar goes
        registrar.reset();
        QTest::qWait(50);
        QCOMPARE(second, 1);
        QCOMPARE(g_calls, (QStringList{"⌃⌥K", "release", "⌘S", "release", "remove", "destroyed"}));

        g_calls.clear();
        auto refusing = std::make_unique<FakeBackend>();
        refusing->result = Grab::Refused;
        HotkeyRegistrar refused(std::move(refusing));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("⌃⌥K refused.*fake reason"));
        QVERIFY(!refused.registerHotkey(controlOptionK, [] {}));
        // Without control, option or command the combo would take an ordinary key from every program.
        for (const quint32 modifiers : {0u, CarbonModifier::Shift, 0xFFFF00FFu}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("needs control, option or command"));
            QVERIFY(!refused.registerHotkey(KeyCombo{40, modifiers}, [] {}));
        }
        QVERIFY(!refused.isRegistered());
        refused.unregister();
        QCOMPARE(g_calls, (QStringList{"⌃⌥K"}));

        HotkeyRegistrar offscreen; // no display server with global shortcuts
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression("⌃⌥K not registered: "));
        QVERIFY(!offscreen.registerHotkey(controlOptionK, [] {}) && !offscreen.isRegistered());
    }
};

QTEST_MAIN(HotkeyRegistrarTest)
#include "tst_hotkeyregistrar.moc"
