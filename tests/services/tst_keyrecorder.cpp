#include "services/hotkey/KeyRecorderButton.h"
#include "services/hotkey/KeyRecorderView.h"

#include <QLineEdit>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <memory>

using namespace varlo;

constexpr quint32 ctrl = CarbonModifier::Control, opt = CarbonModifier::Option;
constexpr quint32 cmd = CarbonModifier::Command, shift = CarbonModifier::Shift;
const QString recordingTitle = QStringLiteral("Type shortcut…");
const QString emptyTitle = QStringLiteral("Record Shortcut");

class KeyRecorderTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    QLineEdit* m_edit = nullptr;
    KeyRecorderView* m_view = nullptr;
    KeyRecorderButton* m_button = nullptr;
    int m_shortcutsTaken = 0;

    void record(QKeyCombination keys)
    {
        QTest::mouseClick(m_button, Qt::LeftButton);
        QVERIFY(m_button->isRecording());
        // keyClick also presses the modifier keys on their own first.
        QTest::keyClick(m_button, keys.key(), keys.keyboardModifiers());
    }

private slots:
    void init()
    {
        m_window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(m_window.get());
        layout->addWidget(m_edit = new QLineEdit);
        layout->addWidget(m_view = new KeyRecorderView);
        m_button = m_view->button();
        // A window shortcut on a combo being recorded must not take the key.
        m_shortcutsTaken = 0;
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_K), m_window.get());
        connect(shortcut, &QShortcut::activated, this, [this] { ++m_shortcutsTaken; });
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    void cleanup() { m_window.reset(); }

    void focusAndClicksStartAndEnd()
    {
        QTest::keyClick(m_edit, Qt::Key_Tab);
        QVERIFY(m_button->isRecording());
        QCOMPARE(m_button->text(), recordingTitle);
        m_edit->setFocus(Qt::OtherFocusReason);
        QVERIFY(!m_button->isRecording());
        QCOMPARE(m_button->text(), emptyTitle);

        QSignalSpy clicked(m_button, &QPushButton::clicked);
        QTest::mouseClick(m_button, Qt::LeftButton);
        QVERIFY(m_button->isRecording() && m_button->hasFocus());
        QTest::mouseClick(m_button, Qt::LeftButton);
        QVERIFY(!m_button->isRecording() && !m_button->hasFocus());
        QCOMPARE(clicked.count(), 0);
    }

    void keyPresses_data()
    {
        QTest::addColumn<QKeyCombination>("keys");
        QTest::addColumn<KeyCombo>("expected"); // empty: not a combo, recording goes on
        QTest::newRow("control option K, a window shortcut")
            << (Qt::CTRL | Qt::ALT | Qt::Key_K) << KeyCombo{40, ctrl | opt};
        QTest::newRow("meta shift K") << (Qt::META | Qt::SHIFT | Qt::Key_K) << KeyCombo{40, cmd | shift};
        QTest::newRow("control shift 1 arrives as !")
            << (Qt::CTRL | Qt::SHIFT | Qt::Key_Exclam) << KeyCombo{18, ctrl | shift};
        QTest::newRow("shift K is not enough") << (Qt::SHIFT | Qt::Key_K) << KeyCombo{};
        QTest::newRow("plain tab does not move focus") << QKeyCombination(Qt::Key_Tab) << KeyCombo{};
    }
    void keyPresses()
    {
        QFETCH(QKeyCombination, keys);
        QFETCH(KeyCombo, expected);
        QSignalSpy recorded(m_view, &KeyRecorderView::comboRecorded);
        record(keys);
        QCOMPARE(m_shortcutsTaken, 0);
        QCOMPARE(m_button->isRecording(), expected.isEmpty());
        QCOMPARE(m_button->hasFocus(), expected.isEmpty());
        QCOMPARE(recorded.count(), expected.isEmpty() ? 0 : 1);
        QCOMPARE(m_view->combo(), expected);
        QCOMPARE(m_button->text(), expected.isEmpty() ? recordingTitle : expected.displayString());
    }

    void escapeAndRedrawsKeepTheBinding()
    {
        m_view->setCombo(KeyCombo{40, ctrl});
        record(Qt::CTRL | Qt::Key_Escape);
        QVERIFY(!m_button->isRecording());
        QCOMPARE(m_button->text(), QStringLiteral("⌃K"));
        // A redraw while recording must not overwrite the capture; the next one catches up.
        QTest::mouseClick(m_button, Qt::LeftButton);
        m_view->setCombo(KeyCombo{1, cmd});
        QCOMPARE(m_button->text(), recordingTitle);
        QTest::keyClick(m_button, Qt::Key_Escape);
        QCOMPARE(m_button->text(), QStringLiteral("⌃K"));
        m_view->setCombo(KeyCombo{1, cmd});
        QCOMPARE(m_button->text(), QStringLiteral("⌘S"));
    }
};

QTEST_MAIN(KeyRecorderTest)
#include "tst_keyrecorder.moc"
