#include "PanelTestSupport.h"
#include "TestSupport.h"
#include "views/PanelParts.h"
#include "views/PortDetailView.h"
#include "views/PortRowTexts.h"

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QToolButton>

using namespace std::chrono_literals;
using namespace varlo;
using namespace varlo::test;

namespace {

QString shown(const PortRowView* row, const char* name)
{
    const auto* label = row->findChild<ElidedLabel*>(QLatin1String(name));
    return label && label->isVisibleTo(row) ? label->text() : QStringLiteral("-");
}

QString badge(const PortRowView* row)
{
    const auto* label = row->findChild<QLabel*>(QStringLiteral("memberBadge"));
    return label->isVisibleTo(row) ? label->text() : QStringLiteral("-");
}

} // namespace

class PortRowViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void texts_data()
    {
        QTest::addColumn<QList<PortEntry>>("ports");
        QTest::addColumn<TunnelMap>("tunnels");
        QTest::addColumn<DockerContainers>("containers");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("expected"); // name, subtitle, badge, shared, kill tooltip, tunnel, docker
        const auto row = [](const char* name, QList<PortEntry> ports, const char* key, QStringList expected,
                            TunnelMap tunnels = {}, DockerContainers containers = {}) {
            QTest::newRow(name) << ports << tunnels << containers << QString::fromLatin1(key) << expected;
        };
        const QString api = home(QStringLiteral("/src/api"));
        const auto tunnel = [](qint64 port, TunnelInfo::Provider provider, const char* url) {
            return TunnelMap{{port, TunnelInfo{provider, QString::fromLatin1(url)}}};
        };
        row("plain process", {listener(3000, 10, "node", home("/src/app"))}, "3000-10",
            {"node", "~/src/app \u00b7 PID 10", "-", "no", "Terminate process (PID 10)", "-", "-"});
        row("group of three",
            {listener(8000, 21, "gunicorn", api, 20), listener(8000, 20, "gunicorn", api),
             listener(8000, 22, "gunicorn", api, 20)},
            "8000-20",
            {"gunicorn", "~/src/api \u00b7 PID 20 +2", "\u00d73", "no",
             "Free port :8000 \u2014 terminate all 3 processes", "-", "-"});
        row("group of two", {listener(8001, 30, "vite", api), listener(8001, 31, "vite", api, 30)}, "8001-30",
            {"vite", "~/src/api \u00b7 PID 30 +1", "\u00d72", "no",
             "Free port :8001 \u2014 terminate all 2 processes", "-", "-"});
        row("shared port", {listener(8080, 30, "java"), listener(8080, 31, "envoy")}, "8080-31",
            {"envoy", "/usr/bin/envoy \u00b7 PID 31", "-", "yes", "Terminate process (PID 31)", "-", "-"});
        row("container", {listener(3001, 40, "docker-proxy")}, "3001-40",
            {"web", "/usr/bin/docker-proxy \u00b7 PID 40", "-", "no", "Stop container web", "-", "nginx:1.27"}, {},
            {{3001, DockerInfo{"web", "nginx:1.27", "Up 2 hours", {}}}});
        row("ngrok", {listener(3002, 50, "node")}, "3002-50",
            {"node", "/usr/bin/node \u00b7 PID 50", "-", "no", "Terminate process (PID 50)", "a.ngrok.app/x", "-"},
            tunnel(3002, TunnelInfo::Provider::ngrok, "https://a.ngrok.app/x"));
        row("cloudflare", {listener(3003, 60, "hugo")}, "3003-60",
            {"hugo", "/usr/bin/hugo \u00b7 PID 60", "-", "no", "Terminate process (PID 60)", "b.trycloudflare.com",
             "-"},
            tunnel(3003, TunnelInfo::Provider::cloudflare, "http://b.trycloudflare.com"));
        PortEntry foreign = listener(3004, 0, QString());
        foreign.userName = QStringLiteral("root");
        row("another user's listener", {foreign}, "3004-0",
            {"", "Owned by root", "-", "no", "Terminate process (PID 0)", "-", "-"});
    }
    void texts()
    {
        QFETCH(QList<PortEntry>, ports);
        QFETCH(TunnelMap, tunnels);
        QFETCH(DockerContainers, containers);
        QFETCH(QString, key);
        QFETCH(QStringList, expected);
        Panel panel;
        panel.machine.ports = ports;
        panel.machine.tunnels = tunnels;
        panel.machine.containers = containers;
        QVERIFY(panel.machine.scan());
        const PortRowView* row = panel.row(key);
        QVERIFY(row);
        const auto* shared = row->findChild<QWidget*>(QStringLiteral("sharedBadge"));
        const auto* kill = row->findChild<QToolButton*>(QStringLiteral("killButton"));
        const QStringList actual{shown(row, "name"),
                                 shown(row, "subtitle"),
                                 badge(row),
                                 shared->isVisibleTo(row) ? QStringLiteral("yes") : QStringLiteral("no"),
                                 kill->accessibleName(),
                                 shown(row, "tunnelURL"),
                                 shown(row, "dockerImage")};
        QCOMPARE(actual, expected);
        if (shared->isVisibleTo(row))
            QCOMPARE(shared->toolTip(),
                     style::plainToolTip("Port :8080 is held by other unrelated processes too. Kill affects only this one."));
    }

    // Groups the grouping never builds still read sensibly.
    void subtitleWithoutPrimary_data()
    {
        QTest::addColumn<int>("members");
        QTest::addColumn<std::optional<qint64>>("primaryPID");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two, no primary") << 2 << std::optional<qint64>() << "/usr/bin/a \u00b7 PID 40";
        QTest::newRow("one, with primary") << 1 << std::optional<qint64>(40) << "/usr/bin/a \u00b7 PID 40";
    }
    void subtitleWithoutPrimary()
    {
        QFETCH(int, members);
        QFETCH(std::optional<qint64>, primaryPID);
        QFETCH(QString, expected);
        PortGroup group{3000, {}, primaryPID, false};
        for (int i = 0; i < members; ++i)
            group.members.append(listener(3000, 40 + i, "a"));
        QCOMPARE(rowtext::subtitle(group, QDir::homePath()), expected);
    }

    void memoryText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("expected");
        constexpr qint64 mib = 1024 * 1024;
        QTest::newRow("negative") << qint64(-1) << "0 MB";
        QTest::newRow("whole MB") << 50 * mib << "50 MB";
        QTest::newRow("one decimal") << qint64(45.26 * mib) << "45.3 MB";
        QTest::newRow("just under 1 GiB") << 1024 * mib - 1 << "1024 MB";
        QTest::newRow("two decimals") << qint64(1.2345 * 1024 * mib) << "1.23 GB";
    }
    void memoryText()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, expected);
        QCOMPARE(rowtext::memoryText(bytes), expected);
    }

    // Open needs a likely web server; kill needs a process or a container we can reach.
    void hoverButtons_data()
    {
        QTest::addColumn<PortEntry>("entry");
        QTest::addColumn<bool>("openShown");
        QTest::addColumn<bool>("killShown");
        PortEntry foreign = listener(3000, 0, QString());
        foreign.userName = QStringLiteral("postgres");
        QTest::newRow("web server") << listener(3000, 10, "node") << true << true;
        QTest::newRow("not a web server") << listener(6543, 10, "postgres") << false << true;
        QTest::newRow("another user's listener") << foreign << true << false;
    }
    void hoverButtons()
    {
        QFETCH(PortEntry, entry);
        QFETCH(bool, openShown);
        QFETCH(bool, killShown);
        Panel panel;
        panel.machine.ports = {entry};
        QVERIFY(panel.machine.scan());
        PortRowView* row = panel.list()->rows().value(0);
        QVERIFY(row);
        panel.view->show();
        auto* open = row->findChild<QToolButton*>(QStringLiteral("openButton"));
        auto* kill = row->findChild<QToolButton*>(QStringLiteral("killButton"));
        QVERIFY(!open->isVisible() && !kill->isVisible());
        hover(row, true);
        QCOMPARE(open->isVisible(), openShown);
        QCOMPARE(kill->isVisible(), killShown);
        QCOMPARE(open->toolTip(), style::plainToolTip(QStringLiteral("Open http://localhost:%1").arg(entry.port)));
        if (kill->isVisible()) {
            kill->click();
            QVERIFY(waitUntil([&] { return !panel.machine.kills.isEmpty(); }, 5s));
            QCOMPARE(panel.machine.kills, QStringList{QStringLiteral("terminate 10")});
        }
        hover(row, false);
        QVERIFY(!open->isVisible() && !kill->isVisible());
    }

    void expandShowsMembersAndDetail_data()
    {
        QTest::addColumn<std::optional<ProcessDetail>>("detail");
        QTest::addColumn<QString>("block");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("loaded") << std::optional(ProcessDetail{12.5, 50 * 1024 * 1024, 3725,
                                                               "ssh -L 6006:localhost:6006 -L 8888:db:5432 box"})
                                << "loaded"
                                << QStringList{"12.5%", "50 MB", "1h 2m", "6006 \u2192 localhost:6006",
                                               "8888 \u2192 db:5432"};
        QTest::newRow("unavailable") << std::optional<ProcessDetail>() << "unavailable"
                                     << QStringList{"Info unavailable"};
    }
    void expandShowsMembersAndDetail()
    {
        QFETCH(std::optional<ProcessDetail>, detail);
        QFETCH(QString, block);
        QFETCH(QStringList, texts);
        Panel panel;
        panel.machine.ports = {listener(8000, 20, "ssh"), listener(8000, 21, "ssh", {}, 20),
                               listener(8000, 22, "ssh", {}, 20)};
        panel.machine.detail = detail;
        panel.machine.detailDelay = 200ms;
        QVERIFY(panel.machine.scan());
        panel.view->show();
        PortRowView* row = panel.row("8000-20");
        QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(200, 10));
        QCOMPARE(panel.machine.monitor().expandedPID(), std::optional<qint64>(20));
        QVERIFY(row->findChild<QWidget*>(QStringLiteral("loading"))); // the spinner while it loads
        QVERIFY(waitUntil([&] { return row->findChild<QWidget*>(block) != nullptr; }, 5s));
        QVERIFY(!row->findChild<QWidget*>(QStringLiteral("loading")));

        QStringList members;
        for (const QLabel* label : row->findChild<QWidget*>(QStringLiteral("members"))->findChildren<QLabel*>())
            members.append(label->text());
        QCOMPARE(members, (QStringList{"primary", "PID 20", "worker", "PID 21", "worker", "PID 22"}));
        QStringList all;
        for (const QLabel* label : row->findChildren<QLabel*>())
            all.append(label->text());
        for (const ElidedLabel* label : row->findChildren<ElidedLabel*>())
            all.append(label->text());
        for (const QString& text : texts)
            QVERIFY2(all.contains(text), qPrintable(text + " not in " + all.join(" | ")));

        QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(200, 10));
        QVERIFY(!panel.machine.monitor().expandedPID());
        QVERIFY(!row->findChild<PortDetailView*>());
    }

    void copyShowsCopiedForItsTime()
    {
        Panel panel;
        panel.machine.ports = {listener(3000, 10, "node")};
        panel.machine.tunnels = {{3000, TunnelInfo{TunnelInfo::Provider::ngrok, "https://a.ngrok.app"}}};
        QVERIFY(panel.machine.scan());
        PortRowView* row = panel.row("3000-10");
        auto* port = row->findChild<QToolButton*>(QStringLiteral("portButton"));
        auto* url = row->findChild<QToolButton*>(QStringLiteral("copyURLButton"));
        QCOMPARE(port->text(), QStringLiteral("3000"));

        url->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("https://a.ngrok.app"));
        QVERIFY(row->isTunnelCopied() && !row->isPortCopied());
        QCOMPARE(url->text(), QStringLiteral("\u2713 copied"));

        QElapsedTimer clock;
        clock.start();
        port->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("localhost:3000"));
        QCOMPARE(port->text(), QStringLiteral("\u2713 copied"));
        QTest::qWait(600);
        QVERIFY(row->isPortCopied());
        port->click(); // a second copy does not extend the first one's time
        QVERIFY(waitUntil([&] { return !row->isPortCopied(); }, 5s));
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= PortRowView::copiedMs && elapsed < PortRowView::copiedMs + 550,
                 qPrintable(QString::number(elapsed)));
        QCOMPARE(port->text(), QStringLiteral("3000"));
        QVERIFY(!row->isTunnelCopied());
        QCOMPARE(url->text(), QStringLiteral("Copy URL"));
    }

    void outsideTextStaysText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shownName");
        QTest::newRow("markup") << "<img src=x><b>bold</b>" << "<img src=x><b>bold</b>";
        QTest::newRow("line breaks") << "evil\nname\r\u2028x" << "evil name  x";
        QTest::newRow("control characters") << QString("a\tb\x01" "c") << "a b c";
        QTest::newRow("right to left") << "\u05e9\u05e8\u05ea" << "\u05e9\u05e8\u05ea";
        QTest::newRow("very long") << QString(2000, QLatin1Char('n')) << QString(2000, QLatin1Char('n'));
    }
    void outsideTextStaysText()
    {
        QFETCH(QString, name);
        QFETCH(QString, shownName);
        Panel panel;
        panel.machine.ports = {listener(3000, 10, name, "/srv/" + name)};
        panel.machine.containers = {{3000, DockerInfo{name, name, name, name}}};
        panel.machine.tunnels = {{3000, TunnelInfo{TunnelInfo::Provider::ngrok, "https://" + name}}};
        panel.machine.detail->fullCommand = "node " + name;
        QVERIFY(panel.machine.scan());
        PortRowView* row = panel.row("3000-10");
        QVERIFY(panel.machine.expand(panel.machine.monitor().ports().value(0)));
        panel.view->show();
        QCOMPARE(shown(row, "name"), shownName);
        QVERIFY(!row->findChild<ElidedLabel*>(QStringLiteral("name"))->shownText().contains(QLatin1Char('\n')));
        for (const QLabel* label : row->findChildren<QLabel*>())
            QVERIFY2(label->text().isEmpty() || label->textFormat() == Qt::PlainText, qPrintable(label->text()));
        const QString tip = row->findChild<ElidedLabel*>(QStringLiteral("name"))->toolTip();
        QVERIFY(!tip.contains(QStringLiteral("<img")));
        QVERIFY(panel.view->width() <= MenubarView::panelWidth);
        QVERIFY(row->width() <= MenubarView::panelWidth);
    }
};

QTEST_MAIN(PortRowViewTest)
#include "tst_portrowview.moc"
