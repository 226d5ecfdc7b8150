#include "services/hotkey/HotkeyRegistrar.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <memory>

using namespace varlo;

namespace {

// What the fake backend was asked to do, kept beyond the registrar's life.
struct FakeState
{
    QStringList calls;
    std::function<void()> listener;
    HotkeyBackend::GrabResult result = HotkeyBackend::GrabResult::Grabbed;
    bool destroyed = false;
};

class FakeBackend final : public HotkeyBackend
{
public:
    explicit FakeBackend(std::shared_ptr<FakeState> state) : m_state(std::move(state)) {}
    ~FakeBackend() override { m_state->destroyed = true; }

    void installListener(std::function<void()> onPressed) override
    {
        m_state->calls << QStringLiteral("install");
        m_state->listener = std::move(onPressed);
    }
    void removeListener() override
    {
        m_state->calls << QStringLiteral("remove");
        m_state->listener = nullptr;
    }
    GrabResult grab(const KeyCombo& combo, QString* detail) override
    {
        m_state->calls << QStringLiteral("grab %1").arg(combo.displayString());
        if (detail)
            *detail = QStringLiteral("fake reason");
        return m_state->result;
    }
    void release() override { m_state->calls << QStringLiteral("release"); }

private:
    std::shared_ptr<FakeState> m_state;
};

const KeyCombo controlOptionK{40, CarbonModifier::Control | CarbonModifier::Option};
const KeyCombo commandS{1, CarbonModifier::Command};

} // namespace

class HotkeyRegistrarTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void reRegisteringReleasesFirstAndInstallsListenerOnce();
    void emptyComboLeavesNoShortcut();
    void handlerRunsLaterOnTheMainLoop();
    void destructionReleasesAndRemovesListener();
    void handlerMayReRegister();
    void refusedGrabIsLoggedAndNotRegistered();
    void combosWithoutCommandKeysAreNotGrabbed_data();
    void combosWithoutCommandKeysAreNotGrabbed();
    void withoutDisplayServerNothingIsRegistered();

private:
    std::shared_ptr<FakeState> m_state;
    std::unique_ptr<HotkeyRegistrar> makeRegistrar()
    {
        return std::make_unique<HotkeyRegistrar>(std::make_unique<FakeBackend>(m_state));
    }
};

void HotkeyRegistrarTest::init()
{
    m_state = std::make_shared<FakeState>();
}

void HotkeyRegistrarTest::reRegisteringReleasesFirstAndInstallsListenerOnce()
{
    auto registrar = makeRegistrar();
    QVERIFY(registrar->registerHotkey(controlOptionK, [] {}));
    QVERIFY(registrar->registerHotkey(commandS, [] {}));
    QCOMPARE(m_state->calls, (QStringList{"install", "grab ⌃⌥K", "release", "grab ⌘S"}));
    QCOMPARE(registrar->registeredCombo(), std::optional<KeyCombo>(commandS));
}

void HotkeyRegistrarTest::emptyComboLeavesNoShortcut()
{
    auto registrar = makeRegistrar();
    QVERIFY(registrar->registerHotkey(controlOptionK, [] {}));
    QVERIFY(!registrar->registerHotkey(KeyCombo{}, [] {}));
    QVERIFY(!registrar->isRegistered());
    QCOMPARE(m_state->calls.last(), QStringLiteral("release"));

    registrar->unregister(); // nothing left to release
    QCOMPARE(m_state->calls.count(QStringLiteral("release")), 1);
}

void HotkeyRegistrarTest::handlerRunsLaterOnTheMainLoop()
{
    auto registrar = makeRegistrar();
    int calls = 0;
    registrar->registerHotkey(controlOptionK, [&calls] { ++calls; });
    m_state->listener();
    QCOMPARE(calls, 0);
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 1000);
}

void HotkeyRegistrarTest::destructionReleasesAndRemovesListener()
{
    auto registrar = makeRegistrar();
    int calls = 0;
    registrar->registerHotkey(controlOptionK, [&calls] { ++calls; });
    m_state->listener(); // a press still pending on the main loop
    registrar.reset();
    QCOMPARE(m_state->calls, (QStringList{"install", "grab ⌃⌥K", "release", "remove"}));
    QVERIFY(m_state->destroyed);
    QTest::qWait(50);
    QCOMPARE(calls, 0);
}

void HotkeyRegistrarTest::handlerMayReRegister()
{
    // The preferences re-register from inside a press; the running handler is
    // replaced while it runs.
    auto registrar = makeRegistrar();
    int first = 0, second = 0;
    registrar->registerHotkey(controlOptionK, [&] {
        registrar->registerHotkey(commandS, [&second] { ++second; });
        ++first; // still reached through this closure
    });
    m_state->listener();
    QTRY_COMPARE_WITH_TIMEOUT(first, 1, 1000);
    m_state->listener();
    QTRY_COMPARE_WITH_TIMEOUT(second, 1, 1000);
    QCOMPARE(first, 1);
}

void HotkeyRegistrarTest::refusedGrabIsLoggedAndNotRegistered()
{
    m_state->result = HotkeyBackend::GrabResult::Refused;
    auto registrar = makeRegistrar();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("⌃⌥K refused.*fake reason"));
    QVERIFY(!registrar->registerHotkey(controlOptionK, [] {}));
    QVERIFY(!registrar->isRegistered());
    registrar->unregister();
    QVERIFY(!m_state->calls.contains(QStringLiteral("release")));
}

void HotkeyRegistrarTest::combosWithoutCommandKeysAreNotGrabbed_data()
{
    QTest::addColumn<quint32>("keyCode");
    QTest::addColumn<quint32>("modifiers");

    QTest::newRow("bare key") << 40u << 0u;
    QTest::newRow("shift only") << 40u << CarbonModifier::Shift;
    QTest::newRow("foreign bits only") << 40u << 0xFFFF00FFu;
    QTest::newRow("bare huge key code") << 0xFFFFFFFFu << 0u;
}

void HotkeyRegistrarTest::combosWithoutCommandKeysAreNotGrabbed()
{
    QFETCH(quint32, keyCode);
    QFETCH(quint32, modifiers);
    auto registrar = makeRegistrar();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("needs control, option or command"));
    QVERIFY(!registrar->registerHotkey(KeyCombo{keyCode, modifiers}, [] {}));
    QVERIFY(!registrar->isRegistered());
    QVERIFY(m_state->calls.filter(QStringLiteral("grab")).isEmpty());
}

void HotkeyRegistrarTest::withoutDisplayServerNothingIsRegistered()
{
    // The test runs on the offscreen platform.
    HotkeyRegistrar registrar;
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("⌃⌥K not registered: "));
    QVERIFY(!registrar.registerHotkey(controlOptionK, [] {}));
    QVERIFY(!registrar.isRegistered());
}

QTEST_MAIN(HotkeyRegistrarTest)
#include "tst_hotkeyregistrar.moc"
