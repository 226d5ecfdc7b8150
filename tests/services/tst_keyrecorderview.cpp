#include "services/hotkey/KeyRecorderButton.h"
#include "services/hotkey/KeyRecorderView.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace varlo;

namespace {

const KeyCombo controlK{40, CarbonModifier::Control};
const KeyCombo commandS{1, CarbonModifier::Command};

} // namespace

class KeyRecorderViewTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void boundValueIsShown();
    void recordingWritesTheBinding();
    void redrawWhileRecordingLeavesTheButtonAlone();

private:
    std::unique_ptr<KeyRecorderView> m_view;
};

void KeyRecorderViewTest::init()
{
    m_view = std::make_unique<KeyRecorderView>();
    m_view->show();
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
}

void KeyRecorderViewTest::cleanup()
{
    m_view.reset();
}

void KeyRecorderViewTest::boundValueIsShown()
{
    QCOMPARE(m_view->button()->text(), QStringLiteral("Record Shortcut"));
    m_view->setCombo(controlK);
    QCOMPARE(m_view->button()->text(), QStringLiteral("⌃K"));
    m_view->setCombo(KeyCombo{});
    QCOMPARE(m_view->button()->text(), QStringLiteral("Record Shortcut"));
}

void KeyRecorderViewTest::recordingWritesTheBinding()
{
    m_view->setCombo(controlK);
    QSignalSpy changed(m_view.get(), &KeyRecorderView::comboChanged);
    QSignalSpy recorded(m_view.get(), &KeyRecorderView::comboRecorded);

    QTest::mouseClick(m_view->button(), Qt::LeftButton);
    QTest::keyClick(m_view->button(), Qt::Key_S, Qt::MetaModifier);
    QCOMPARE(m_view->combo(), commandS);
    QCOMPARE(m_view->button()->text(), QStringLiteral("⌘S"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(recorded.count(), 1);
    QCOMPARE(recorded.at(0).at(0).value<KeyCombo>(), commandS);

    // Recording the same combo again still reports it, without a change.
    QTest::mouseClick(m_view->button(), Qt::LeftButton);
    QTest::keyClick(m_view->button(), Qt::Key_S, Qt::MetaModifier);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(recorded.count(), 2);
}

void KeyRecorderViewTest::redrawWhileRecordingLeavesTheButtonAlone()
{
    m_view->setCombo(controlK);
    QTest::mouseClick(m_view->button(), Qt::LeftButton);
    QVERIFY(m_view->button()->isRecording());

    m_view->setCombo(commandS);
    QCOMPARE(m_view->button()->text(), QStringLiteral("Type shortcut…"));
    QCOMPARE(m_view->button()->combo(), controlK);
    QVERIFY(m_view->button()->isRecording());

    QTest::keyClick(m_view->button(), Qt::Key_Escape);
    m_view->setCombo(commandS); // the next redraw catches up
    QCOMPARE(m_view->button()->text(), QStringLiteral("⌘S"));
}

QTEST_MAIN(KeyRecorderViewTest)
#include "tst_keyrecorderview.moc"
