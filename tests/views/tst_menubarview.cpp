#include "PanelTestSupport.h"
#include "TestSupport.h"
#include "views/KillAllConfirmation.h"
#include "views/MenuBarPanelContent.h"
#include "views/PanelParts.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace std::chrono_literals;
using namespace varlo;
using namespace varlo::test;

namespace {

QList<PortEntry> plainPorts(int count, qint64 firstPort = 3000)
{
    QList<PortEntry> ports;
    for (int i = 0; i < count; ++i)
        ports.append(listener(firstPort + i, 100 + i, QStringLiteral("node")));
    return ports;
}

QString body(const Panel& panel)
{
    for (const char* name : {"scanning", "empty"}) {
        if (panel.child(QLatin1String(name))->isVisibleTo(panel.view.get()))
            return QLatin1String(name);
    }
    return panel.list()->isVisibleTo(panel.view.get()) ? QStringLiteral("list") : QStringLiteral("none");
}

// Runs the layout passes already asked for, and those they ask for in turn.
void settleLayouts()
{
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
}

// Counts the layout passes a widget is asked for.
struct LayoutCounter : QObject
{
    int requests = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            ++requests;
        return false;
    }
};

} // namespace

class MenubarViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bodyAndFooter_data()
    {
        QTest::addColumn<bool>("scanned");
        QTest::addColumn<int>("ports");
        QTest::addColumn<QList<PortHistoryEntry>>("history");
        QTest::addColumn<bool>("showHistory");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("killAllEnabled");
        QTest::addColumn<bool>("historyShown");
        const QList<PortHistoryEntry> past{{4000, "vite", minutesAgo(60), minutesAgo(5), false}};
        const QList<PortHistoryEntry> active{{3000, "node", minutesAgo(60), minutesAgo(0), true}};
        QTest::newRow("before the first scan") << false << 0 << past << true << "scanning" << false << true;
        QTest::newRow("nothing listening") << true << 0 << QList<PortHistoryEntry>{} << false << "empty" << false
                                           << false;
        QTest::newRow("ports") << true << 2 << QList<PortHistoryEntry>{} << false << "list" << true << false;
        QTest::newRow("past entries, not shown") << true << 0 << past << false << "empty" << false << true;
        QTest::newRow("only history") << true << 0 << past << true << "list" << false << true;
        QTest::newRow("only active entries") << true << 1 << active << false << "list" << true << false;
    }
    void bodyAndFooter()
    {
        QFETCH(bool, scanned);
        QFETCH(int, ports);
        QFETCH(QList<PortHistoryEntry>, history);
        QFETCH(bool, showHistory);
        QFETCH(QString, body);
        QFETCH(bool, killAllEnabled);
        QFETCH(bool, historyShown);
        Panel panel(history);
        panel.machine.ports = plainPorts(ports);
        if (scanned)
            QVERIFY(panel.machine.scan());
        auto* historyButton = panel.child<QToolButton>("historyButton");
        QCOMPARE(historyButton->isVisibleTo(panel.view.get()), historyShown);
        if (showHistory)
            historyButton->click();
        QCOMPARE(::body(panel), body);
        QCOMPARE(panel.list()->rows().size(), qsizetype(scanned ? ports : 0));
        auto* killAll = panel.child<QToolButton>("killAllButton");
        QCOMPARE(killAll->isEnabled(), killAllEnabled);
        killAll->click();
        QCOMPARE(panel.view->isKillAllConfirmationShown(), killAllEnabled);
        // Dim without groups: the title is drawn at 40 % of the secondary colour.
        const QColor text = killAll->palette().color(QPalette::Active, QPalette::ButtonText);
        QCOMPARE(text.alphaF() < 0.5, !killAllEnabled);
    }

    void header_data()
    {
        QTest::addColumn<QString>("range");
        QTest::newRow("default") << "3000-9999";
        QTest::newRow("as typed") << "80, 3000-3005 ,x";
        QTest::newRow("invalid") << "<b>nine</b>-";
    }
    void header()
    {
        QFETCH(QString, range);
        Panel panel;
        panel.machine.settings().setMonitoredRange(range);
        QCOMPARE(panel.child<ElidedLabel>("rangeText")->text(), "Ports " + range);

        auto* badge = panel.child<QAbstractButton>("vpnBadge");
        QVERIFY(!badge->isVisibleTo(panel.view.get()));
        panel.machine.vpn = "Office <VPN>";
        QVERIFY(panel.machine.scan());
        QVERIFY(badge->isVisibleTo(panel.view.get()));
        QCOMPARE(badge->toolTip(),
                 style::plainToolTip("Office <VPN> \u2014 connected. Click to open Network settings."));
        badge->click();
        QCOMPARE(panel.networkSettingsOpened, 1);
        panel.machine.vpn.reset();
        QVERIFY(panel.machine.scan());
        QVERIFY(!badge->isVisibleTo(panel.view.get()));
    }

    void killAll_data()
    {
        QTest::addColumn<QList<PortEntry>>("ports");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("kills");
        PortEntry foreign = listener(3005, 0, QString());
        foreign.userName = QStringLiteral("root");
        QTest::newRow("one process") << plainPorts(1) << "Kill all 1 process?" << QStringList{"terminate 100"};
        QTest::newRow("a group of three is one")
            << QList{listener(8000, 20, "w"), listener(8000, 21, "w", {}, 20), listener(8000, 22, "w", {}, 20)}
            << "Kill all 1 process?" << QStringList{"group 20,21,22"};
        QTest::newRow("three processes") << plainPorts(3) << "Kill all 3 processes?"
                                         << QStringList{"terminate 100", "terminate 101", "terminate 102"};
        QTest::newRow("another user's listener is not counted")
            << plainPorts(1) + QList{foreign} << "Kill all 1 process?" << QStringList{"terminate 100"};
    }
    void killAll()
    {
        QFETCH(QList<PortEntry>, ports);
        QFETCH(QString, title);
        QFETCH(QStringList, kills);
        Panel panel;
        panel.machine.ports = ports;
        QVERIFY(panel.machine.scan());
        auto* killAll = panel.child<QToolButton>("killAllButton");
        auto* question = panel.view->findChild<KillAllConfirmation*>();
        killAll->click();
        QCOMPARE(question->title(), title);
        panel.child<QAbstractButton>("cancelKillAll")->click();
        QVERIFY(!panel.view->isKillAllConfirmationShown());
        killAll->click();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(question, &escape);
        QVERIFY(!panel.view->isKillAllConfirmationShown());
        QTest::qWait(50);
        QVERIFY(panel.machine.kills.isEmpty()); // neither way out kills

        killAll->click();
        panel.child<QAbstractButton>("confirmKillAll")->click();
        QVERIFY(!panel.view->isKillAllConfirmationShown());
        QVERIFY(waitUntil([&] { return panel.machine.kills.size() >= kills.size(); }, 5s));
        QCOMPARE(panel.machine.kills, kills);
    }

    // Rows live as long as their group: a rescan of the same machine touches nothing.
    // Other users' listeners sharing a port get a row each.
    void rowsKeepTheirIdentity()
    {
        Panel panel;
        PortEntry foreign = listener(3100, 0, QString());
        foreign.userName = QStringLiteral("root");
        panel.machine.ports = plainPorts(3) + QList{foreign, foreign};
        QVERIFY(panel.machine.scan());
        panel.view->show();
        const QList<PortRowView*> rows = panel.list()->rows();
        QCOMPARE(rows.size(), 5);
        QCOMPARE(panel.row("3100-0#1"), rows.at(4));
        QPointer<PortRowView> first = panel.row("3000-100");
        QPointer<PortRowView> second = panel.row("3001-101");
        hover(second, true);
        QVERIFY(panel.machine.expand(panel.machine.monitor().ports().at(1)));
        second->findChild<QToolButton*>(QStringLiteral("portButton"))->click();
        settleLayouts();

        LayoutCounter counter;
        panel.list()->widget()->installEventFilter(&counter);
        second->installEventFilter(&counter);
        QVERIFY(panel.machine.scan());
        settleLayouts();
        QVERIFY(second->isHovered() && second->isPortCopied());
        QCOMPARE(counter.requests, 0);
        QCOMPARE(panel.list()->rows(), rows);

        panel.machine.ports.removeAt(1); // the hovered, expanded row's group goes
        QVERIFY(panel.machine.scan());
        QTest::qWait(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(second.isNull());
        QCOMPARE(panel.list()->rows(), (QList<PortRowView*>{first, rows.at(2), rows.at(3), rows.at(4)}));
    }

    // The host follows the content's size hint: it grows by the rows a scan adds.
    void contentWantsTheListHeight()
    {
        ScriptedMachine machine;
        machine.ports = plainPorts(1);
        QVERIFY(machine.scan());
        MenuBarPanelContent content(machine.monitor());
        content.show();
        QTest::qWait(100);
        const int before = content.sizeHint().height();
        machine.ports = plainPorts(3);
        QVERIFY(machine.scan());
        // The new height travels up through a few posted layout passes.
        QVERIFY(waitUntil([&] { return content.sizeHint().height() != before; }, 2s));
        const PortRowView* added = content.findChild<PortRowView*>(QStringLiteral("3002-102"));
        QVERIFY(added);
        // Two rows, and a divider under each row but the last.
        QCOMPARE(content.sizeHint().height(), before + 2 * added->sizeHint().height() + 2);
    }

    void historySection()
    {
        Panel panel({{4000, "vite", minutesAgo(300), minutesAgo(120), false},
                     {4001, "webpack", minutesAgo(3000), minutesAgo(5), false},
                     {3000, "node", minutesAgo(10), minutesAgo(0), true}});
        panel.machine.ports = {listener(3000, 10, "node")};
        QVERIFY(panel.machine.scan());
        HistorySection* section = panel.list()->historySection();
        QVERIFY(!section->isVisibleTo(panel.view.get()));
        QVERIFY(!panel.row("3000-10")->findChild<QWidget*>()->isHidden());
        panel.child<QToolButton>("historyButton")->click();
        QVERIFY(section->isVisibleTo(panel.view.get()));
        QStringList texts;
        for (const PortHistoryRowView* row : section->rows()) {
            const PortHistoryRowTexts& t = row->texts();
            texts.append(QStringLiteral("%1 %2 | %3 \u00b7 %4").arg(t.port).arg(t.processName, t.since, t.lastSeen));
        }
        QCOMPARE(texts, (QStringList{"4001 webpack | Since 2d 2h \u00b7 5m ago", "4000 vite | Since 5h 0m \u00b7 2h ago"}));
        QVERIFY(!section->findChild<QLabel*>(QStringLiteral("emptyHistory"))->isVisibleTo(section));

        panel.machine.monitor().history().clear(); // the section stays and says so
        QVERIFY(!panel.child<QToolButton>("historyButton")->isVisibleTo(panel.view.get()));
        QVERIFY(section->isVisibleTo(panel.view.get()));
        QVERIFY(section->rows().isEmpty());
        QCOMPARE(section->findChild<QLabel*>(QStringLiteral("emptyHistory"))->text(),
                 QStringLiteral("No past ports this session."));
    }

    void listHeightIsMeasuredAndCapped_data()
    {
        QTest::addColumn<int>("ports");
        QTest::addColumn<bool>("capped");
        QTest::newRow("two rows") << 2 << false;
        QTest::newRow("sixty rows") << 60 << true;
    }
    void listHeightIsMeasuredAndCapped()
    {
        QFETCH(int, ports);
        QFETCH(bool, capped);
        Panel panel;
        panel.machine.ports = plainPorts(ports);
        QVERIFY(panel.machine.scan());
        panel.view->show();
        QCoreApplication::processEvents();
        PortListView* list = panel.list();
        const int content = list->widget()->sizeHint().height();
        QCOMPARE(list->height(), capped ? list->heightCap() : content);
        QCOMPARE(content > list->heightCap(), capped);
        QVERIFY(list->heightCap() > 0);
        int rows = 0;
        for (const PortRowView* row : list->rows())
            rows += row->sizeHint().height();
        QVERIFY(content >= rows); // measured, not estimated
    }

    void badInputKeepsThePanelNarrow()
    {
        Panel panel;
        panel.machine.settings().setMonitoredRange("1-65535");
        panel.machine.settings().setExcludedPorts({});
        QList<PortEntry> ports{listener(1, 10, QString(2000, QLatin1Char('x')), "/" + QString(2000, QLatin1Char('d'))),
                               listener(65535, 11, QString()), listener(3000, 12, "\u202e\u05e9\u05e8\u05ea\x07")};
        ports += plainPorts(500, 10000);
        panel.machine.ports = ports;
        panel.machine.detail->fullCommand = "x " + QString(2000, QLatin1Char('a'));
        panel.machine.containers = {{65535, DockerInfo{QString(2000, QLatin1Char('c')), QString(2000, QLatin1Char('i')), "Up", {}}}};
        QVERIFY(panel.machine.scan());
        QVERIFY(panel.machine.expand(panel.machine.monitor().ports().at(0)));
        panel.view->show();
        QCoreApplication::processEvents();
        QCOMPARE(panel.list()->rows().size(), 503);
        QCOMPARE(panel.view->width(), MenubarView::panelWidth);
        QVERIFY2(panel.view->layout()->minimumSize().width() <= MenubarView::panelWidth,
                 qPrintable(QString::number(panel.view->layout()->minimumSize().width())));
        for (const PortRowView* row : panel.list()->rows().mid(0, 3))
            QVERIFY(row->width() <= MenubarView::panelWidth);
    }

    void keyboardAndSignals()
    {
        ScriptedMachine machine;
        machine.ports = plainPorts(1);
        machine.vpn = "Office";
        QVERIFY(machine.scan());
        MenuBarPanelContent content(machine.monitor());
        QSignalSpy settings(&content, &MenuBarPanelContent::settingsRequested);
        QSignalSpy quit(&content, &MenuBarPanelContent::quitRequested);
        QSignalSpy close(&content, &MenuBarPanelContent::closeRequested);
        content.show();
        content.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&content));

        for (const QAbstractButton* button : content.findChildren<QAbstractButton*>()) {
            const bool iconOnly = button->text().isEmpty() || button->objectName() == u"vpnBadge";
            QVERIFY2(!iconOnly || !button->accessibleName().isEmpty(), qPrintable(button->objectName()));
        }

        // Tab from the panel itself reaches every control, the row's hidden buttons included.
        content.setFocus();
        QSet<QString> reached;
        for (int i = 0; i < 30; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (const QWidget* focus = QApplication::focusWidget())
                reached.insert(focus->objectName());
        }
        for (const char* name : {"vpnBadge", "portButton", "3000-100", "openButton", "killButton", "refreshButton",
                                 "killAllButton", "settingsButton", "quitButton"})
            QVERIFY2(reached.contains(QLatin1String(name)), name);

        content.findChild<QToolButton*>(QStringLiteral("settingsButton"))->click();
        content.findChild<QToolButton*>(QStringLiteral("quitButton"))->click();
        QCOMPARE(settings.size(), 1);
        QCOMPARE(quit.size(), 1);

        content.findChild<QToolButton*>(QStringLiteral("killAllButton"))->click();
        QTest::keyClick(&content, Qt::Key_Escape); // first closes the question
        QCOMPARE(close.size(), 0);
        QTest::keyClick(&content, Qt::Key_Escape);
        QCOMPARE(close.size(), 1);
        QVERIFY(machine.kills.isEmpty());
    }
};

QTEST_MAIN(MenubarViewTest)
#include "tst_menubarview.moc"
