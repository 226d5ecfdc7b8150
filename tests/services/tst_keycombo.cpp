#include "services/hotkey/KeyTranslation.h"
#include "settings/KeyCombo.h"

#include <QKeySequence>
#include <QSet>
#include <QTest>

using namespace varlo;
using Code = std::optional<quint32>;

constexpr quint32 cmd = CarbonModifier::Command, shift = CarbonModifier::Shift;
constexpr quint32 opt = CarbonModifier::Option, ctrl = CarbonModifier::Control;

class KeyComboTest : public QObject
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
};

QTEST_MAIN(KeyComboTest)
#include "tst_keycombo.moc"
