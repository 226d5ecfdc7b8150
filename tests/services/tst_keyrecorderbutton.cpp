#include "services/hotkey/KeyRecorderButton.h"

#include <QLineEdit>
#include <QShortcut>
#include <QTest>
#include <QVBoxLayout>
#include <memory>

using namespace varlo;

namespace {

constexpr quint32 ctrl = CarbonModifier::Control;
constexpr quint32 opt = CarbonModifier::Option;
constexpr quint32 cmd = CarbonModifier::Command;
constexpr quint32 shift = CarbonModifier::Shift;

} // namespace

class KeyRecorderButtonTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void clickStartsAndSecondClickEnds();
    void keyPresses_data();
    void keyPresses();
    void escapeKeepsCombo();
    void focusMovingElsewhereEnds();
    void windowShortcutDoesNotTakeTheKey();
    void titleColourFollowsState();

private:
    void startRecording()
    {
        QTest::mouseClick(m_button, Qt::LeftButton);
        QVERIFY(m_button->isRecording());
    }

    std::unique_ptr<QWidget> m_window;
    KeyRecorderButton* m_button = nullptr;
    QLineEdit* m_edit = nullptr;
    QList<KeyCombo> m_recorded;
};

void KeyRecorderButtonTest::init()
{
    m_window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(m_window.get());
    m_edit = new QLineEdit(m_window.get());
    m_button = new KeyRecorderButton(m_window.get());
    layout->addWidget(m_edit);
    layout->addWidget(m_button);
    m_recorded.clear();
    m_button->setOnComboChanged([this](const KeyCombo& combo) { m_recorded << combo; });
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_edit->setFocus();
}

void KeyRecorderButtonTest::cleanup()
{
    m_window.reset();
}

void KeyRecorderButtonTest::clickStartsAndSecondClickEnds()
{
    QCOMPARE(m_button->text(), QStringLiteral("Record Shortcut"));
    int clicked = 0;
    connect(m_button, &QPushButton::clicked, this, [&clicked] { ++clicked; });

    startRecording();
    QCOMPARE(m_button->text(), QStringLiteral("Type shortcut…"));
    QVERIFY(m_button->hasFocus());

    QTest::mouseClick(m_button, Qt::LeftButton);
    QVERIFY(!m_button->isRecording());
    QVERIFY(!m_button->hasFocus());
    QCOMPARE(m_button->text(), QStringLiteral("Record Shortcut"));
    QVERIFY(m_recorded.isEmpty());
    QCOMPARE(clicked, 0);
}

void KeyRecorderButtonTest::keyPresses_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<bool>("records");
    QTest::addColumn<KeyCombo>("expected");

    QTest::newRow("control option K")
        << int(Qt::Key_K) << (Qt::ControlModifier | Qt::AltModifier) << true << KeyCombo{40, ctrl | opt};
    QTest::newRow("command shift K") << int(Qt::Key_K) << (Qt::MetaModifier | Qt::ShiftModifier) << true
                                     << KeyCombo{40, cmd | shift};
    QTest::newRow("option F4") << int(Qt::Key_F4) << Qt::KeyboardModifiers(Qt::AltModifier) << true
                               << KeyCombo{118, opt};
    QTest::newRow("control shift 1 arrives as !")
        << int(Qt::Key_Exclam) << (Qt::ControlModifier | Qt::ShiftModifier) << true
        << KeyCombo{18, ctrl | shift};
    QTest::newRow("control tab") << int(Qt::Key_Tab) << Qt::KeyboardModifiers(Qt::ControlModifier) << true
                                 << KeyCombo{48, ctrl};
    QTest::newRow("shift K is not enough")
        << int(Qt::Key_K) << Qt::KeyboardModifiers(Qt::ShiftModifier) << false << KeyCombo{};
    QTest::newRow("plain tab neither records nor moves focus")
        << int(Qt::Key_Tab) << Qt::KeyboardModifiers() << false << KeyCombo{};
    QTest::newRow("key outside the table")
        << int(Qt::Key_F13) << Qt::KeyboardModifiers(Qt::ControlModifier) << false << KeyCombo{};
    QTest::newRow("keypad digit") << int(Qt::Key_1) << (Qt::ControlModifier | Qt::KeypadModifier) << false
                                  << KeyCombo{};
    QTest::newRow("arrow key") << int(Qt::Key_Left) << Qt::KeyboardModifiers(Qt::ControlModifier) << false
                               << KeyCombo{};
}

void KeyRecorderButtonTest::keyPresses()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(bool, records);
    QFETCH(KeyCombo, expected);

    startRecording();
    // keyClick also presses the modifier keys on their own first.
    QTest::keyClick(m_button, Qt::Key(key), modifiers);
    if (records) {
        QCOMPARE(m_recorded, QList<KeyCombo>{expected});
        QCOMPARE(m_button->combo(), expected);
        QVERIFY(!m_button->isRecording());
        QCOMPARE(m_button->text(), expected.displayString());
    } else {
        QVERIFY(m_recorded.isEmpty());
        QVERIFY(m_button->isRecording());
        QVERIFY(m_button->hasFocus());
        QCOMPARE(m_button->text(), QStringLiteral("Type shortcut…"));
    }
}

void KeyRecorderButtonTest::escapeKeepsCombo()
{
    const KeyCombo previous{40, ctrl};
    m_button->setCombo(previous);
    m_button->updateTitle();
    startRecording();
    QTest::keyClick(m_button, Qt::Key_Escape, Qt::ControlModifier);
    QVERIFY(!m_button->isRecording());
    QCOMPARE(m_button->combo(), previous);
    QCOMPARE(m_button->text(), QStringLiteral("⌃K"));
    QVERIFY(m_recorded.isEmpty());
}

void KeyRecorderButtonTest::focusMovingElsewhereEnds()
{
    startRecording();
    m_edit->setFocus(Qt::OtherFocusReason);
    QVERIFY(!m_button->isRecording());
    QCOMPARE(m_button->text(), QStringLiteral("Record Shortcut"));
    // Keys now reach the edit, not the recorder.
    QTest::keyClick(m_edit, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    QVERIFY(m_recorded.isEmpty());
}

void KeyRecorderButtonTest::windowShortcutDoesNotTakeTheKey()
{
    int activated = 0;
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), m_window.get());
    connect(shortcut, &QShortcut::activated, this, [&activated] { ++activated; });

    startRecording();
    QTest::keyClick(m_button, Qt::Key_K, Qt::ControlModifier);
    QCOMPARE(m_recorded, QList<KeyCombo>{(KeyCombo{40, ctrl})});
    QCOMPARE(activated, 0);
}

void KeyRecorderButtonTest::titleColourFollowsState()
{
    auto alpha = [this] {
        return m_button->palette().color(QPalette::Active, QPalette::ButtonText).alphaF();
    };
    const qreal empty = alpha();
    startRecording();
    const qreal recording = alpha();
    QTest::keyClick(m_button, Qt::Key_K, Qt::ControlModifier);
    const qreal set = alpha();
    QCOMPARE(set, 1.0);
    QVERIFY(empty < recording);
    QVERIFY(recording < set);
}

QTEST_MAIN(KeyRecorderButtonTest)
#include "tst_keyrecorderbutton.moc"
