#include "services/hotkey/KeyTranslation.h"
#include "settings/KeyCombo.h"

#include <QKeySequence>
#include <QSet>
#include <QTest>

using namespace varlo;

Q_DECLARE_METATYPE(std::optional<quint32>)

namespace {

constexpr quint32 cmd = CarbonModifier::Command;
constexpr quint32 shift = CarbonModifier::Shift;
constexpr quint32 opt = CarbonModifier::Option;
constexpr quint32 ctrl = CarbonModifier::Control;

} // namespace

class KeyComboTest : public QObject
{
    Q_OBJECT

private slots:
    void displayString_data();
    void displayString();
    void carbonModifiers_data();
    void carbonModifiers();
    void keyNameTableHasOnlyItsCodes();
    void qtKeysRoundTrip();
    void keyCodeForQtKey_data();
    void keyCodeForQtKey();
};

void KeyComboTest::displayString_data()
{
    QTest::addColumn<quint32>("keyCode");
    QTest::addColumn<quint32>("modifiers");
    QTest::addColumn<QString>("expected");

    QTest::newRow("control option K") << 40u << (ctrl | opt) << QStringLiteral("⌃⌥K");
    QTest::newRow("command space") << 49u << cmd << QStringLiteral("⌘Space");
    QTest::newRow("empty") << 0u << 0u << QString();
    QTest::newRow("unnamed key") << 53u << cmd << QStringLiteral("⌘?");
    QTest::newRow("fixed modifier order") << 1u << (cmd | shift | opt | ctrl) << QStringLiteral("⌃⌥⇧⌘S");
    QTest::newRow("return") << 36u << shift << QStringLiteral("⇧↩");
    QTest::newRow("tab") << 48u << opt << QStringLiteral("⌥⇥");
    QTest::newRow("delete") << 51u << cmd << QStringLiteral("⌘⌫");
    QTest::newRow("no modifiers") << 10u << 0u << QStringLiteral("?");
    QTest::newRow("foreign modifier bits") << 40u << 0xFFFFFFFFu << QStringLiteral("⌃⌥⇧⌘K");
    QTest::newRow("huge key code") << 0xFFFFFFFFu << opt << QStringLiteral("⌥?");
}

void KeyComboTest::displayString()
{
    QFETCH(quint32, keyCode);
    QFETCH(quint32, modifiers);
    QFETCH(QString, expected);
    QCOMPARE((KeyCombo{keyCode, modifiers}.displayString()), expected);
}

void KeyComboTest::carbonModifiers_data()
{
    QTest::addColumn<quint64>("flags");
    QTest::addColumn<quint32>("expected");

    QTest::newRow("none") << quint64{0} << 0u;
    QTest::newRow("control") << quint64{0x40000} << ctrl;
    QTest::newRow("command") << quint64{0x100000} << cmd;
    QTest::newRow("command shift with device bits") << quint64{0x120108} << (cmd | shift);
    QTest::newRow("caps lock, keypad, function, low bits") << quint64{0xA1FFFF} << 0u;
    QTest::newRow("every bit") << ~quint64{0} << (cmd | shift | opt | ctrl);
}

void KeyComboTest::carbonModifiers()
{
    QFETCH(quint64, flags);
    QFETCH(quint32, expected);
    QCOMPARE(KeyCombo::carbonModifiers(flags), expected);
}

void KeyComboTest::keyNameTableHasOnlyItsCodes()
{
    const QList<quint32> codes = KeyCombo::namedKeyCodes();
    QCOMPARE(codes.size(), 63);
    QSet<QString> labels;
    for (quint32 code = 0; code < 256; ++code) {
        const QString name = KeyCombo::keyName(code);
        QCOMPARE(name != QStringLiteral("?"), codes.contains(code));
        if (codes.contains(code))
            labels.insert(name);
    }
    QCOMPARE(labels.size(), 63); // no label twice
}

void KeyComboTest::qtKeysRoundTrip()
{
    // Qt's own text for the key must be the label, so the two tables agree.
    const QHash<quint32, QString> qtSpelling{
        {36, QStringLiteral("Return")}, {48, QStringLiteral("Tab")}, {51, QStringLiteral("Backspace")}};
    for (const quint32 code : KeyCombo::namedKeyCodes()) {
        const std::optional<Qt::Key> key = qtKeyForKeyCode(code);
        QVERIFY2(key, qPrintable(QString::number(code)));
        QCOMPARE(varlo::keyCodeForQtKey(*key, Qt::NoModifier), std::optional<quint32>(code));
        QCOMPARE(QKeySequence(*key).toString(QKeySequence::PortableText),
                 qtSpelling.value(code, KeyCombo::keyName(code)));
    }
    QVERIFY(!qtKeyForKeyCode(10));
    QVERIFY(!qtKeyForKeyCode(53));
    QVERIFY(!qtKeyForKeyCode(0xFFFFFFFF));
}

void KeyComboTest::keyCodeForQtKey_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<std::optional<quint32>>("expected");

    const Qt::KeyboardModifiers shifted = Qt::ShiftModifier | Qt::ControlModifier;
    QTest::newRow("shifted 1") << int(Qt::Key_Exclam) << shifted << std::optional<quint32>(18);
    QTest::newRow("shifted 6") << int(Qt::Key_AsciiCircum) << shifted << std::optional<quint32>(22);
    QTest::newRow("shifted =") << int(Qt::Key_Plus) << shifted << std::optional<quint32>(24);
    QTest::newRow("shift tab") << int(Qt::Key_Backtab) << shifted << std::optional<quint32>(48);
    QTest::newRow("keypad enter") << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier)
                                  << std::optional<quint32>();
    QTest::newRow("escape") << int(Qt::Key_Escape) << Qt::KeyboardModifiers() << std::optional<quint32>();
    QTest::newRow("unknown") << int(Qt::Key_unknown) << Qt::KeyboardModifiers() << std::optional<quint32>();
    QTest::newRow("negative") << -1 << Qt::KeyboardModifiers() << std::optional<quint32>();
}

void KeyComboTest::keyCodeForQtKey()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(std::optional<quint32>, expected);
    QCOMPARE(varlo::keyCodeForQtKey(key, modifiers), expected);
}

QTEST_MAIN(KeyComboTest)
#include "tst_keycombo.moc"
