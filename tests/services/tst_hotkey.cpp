#include "services/hotkey/HotkeyRegistrar.h"
#include "services/hotkey/KeyTranslation.h"
#include "settings/KeyCombo.h"

#include <QKeySequence>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <memory>

using namespace varlo;
using Code = std::optional<quint32>;
using Grab = HotkeyBackend::GrabResult;

constexpr quint32 cmd = CarbonModifier::Command, shift = CarbonModifier::Shift;
constexpr quint32 opt = CarbonModifier::Option, ctrl = CarbonModifier::Control;

const KeyCombo controlOptionK{40, ctrl | opt}, commandS{1, cmd};

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

class HotkeyTest : public QObject
{
    Q_OBJECT

private slots:
    void displayString_data()
    {
        QTest::addColumn<KeyCombo>("combo");
        QTest::addColumn<QString>("expected");
        QTest::newRow("fixed modifier order") << KeyCombo{1, cmd | shift | opt | ctrl} << "⌃⌥⇧⌘S";
        QTest::newRow("glyph key") << KeyCombo{36, shift} << "⇧↩";
        QTest::newRow("empty") << KeyCombo{} << "";
        QTest::newRow("unnamed key") << KeyCombo{53, cmd} << "⌘?";
        QTest::newRow("foreign modifier bits") << KeyCombo{40, 0xFFFFFFFFu} << "⌃⌥⇧⌘K";
        QTest::newRow("huge key code") << KeyCombo{0xFFFFFFFFu, opt} << "⌥?";
    }
    void displayString()
    {
        QFETCH(KeyCombo, combo);
        QFETCH(QString, expected);
        QCOMPARE(combo.displayString(), expected);
    }

    void carbonModifiers()
    {
        QCOMPARE(KeyCombo::carbonModifiers(0x120108), cmd | shift); // device bits dropped
        QCOMPARE(KeyCombo::carbonModifiers(0xA1FFFF), 0u);          // caps lock, keypad, function
        QCOMPARE(KeyCombo::carbonModifiers(~quint64{0}), cmd | shift | opt | ctrl);
    }

    void keyNamesAndQtKeysRoundTrip()
    {
        const QList<quint32> codes = KeyCombo::namedKeyCodes();
        QCOMPARE(codes.size(), 63);
        for (quint32 code = 0; code < 256; ++code) {
            QCOMPARE(KeyCombo::keyName(code) != QStringLiteral("?"), codes.contains(code));
            QCOMPARE(qtKeyForKeyCode(code).has_value(), codes.contains(code));
        }
        // Qt's own text for the key must be the label, so the two tables agree.
        const QHash<quint32, QString> qtSpelling{{36, "Return"}, {48, "Tab"}, {51, "Backspace"}};
        QSet<QString> labels;
        for (const quint32 code : codes) {
            const Qt::Key key = *qtKeyForKeyCode(code);
            QCOMPARE(keyCodeForQtKey(key, Qt::NoModifier), Code(code));
            QCOMPARE(QKeySequence(key).toString(QKeySequence::PortableText),
                     qtSpelling.value(code, KeyCombo::keyName(code)));
            labels.insert(KeyCombo::keyName(code));
        }
        QCOMPARE(labels.size(), 63);
        QVERIFY(!qtKeyForKeyCode(0xFFFFFFFF));

        const Qt::KeyboardModifiers shifted = Qt::ShiftModifier | Qt::ControlModifier;
        QCOMPARE(keyCodeForQtKey(Qt::Key_Exclam, shifted), Code(18));
        QCOMPARE(keyCodeForQtKey(Qt::Key_Backtab, shifted), Code(48));
        QCOMPARE(keyCodeForQtKey(Qt::Key_Enter, Qt::KeypadModifier), Code());
        QCOMPARE(keyCodeForQtKey(-1, Qt::NoModifier), Code());
    }

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

QTEST_MAIN(HotkeyTest)
#include "tst_hotkey.moc"
