#include "detectors/SSHForward.h"

#include <QTest>

using namespace varlo;

namespace {

// "local>host:port" per forward.
QStringList describe(const QList<SSHForward>& forwards)
{
    QStringList lines;
    for (const SSHForward& f : forwards)
        lines << f.localPort + '>' + f.remoteHost + ':' + f.remotePort;
    return lines;
}

} // namespace

class TstSSHForward : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sshForwards_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("separate spec")
            << "ssh -N -L 8080:localhost:80 host" << QStringList{"8080>localhost:80"};
        QTest::newRow("joined and bound") << "ssh -L8080:db:5432 -L 127.0.0.1:9000:cache:8080 host"
                                          << QStringList{"8080>db:5432", "9000>cache:8080"};
        QTest::newRow("path, extra spaces")
            << "  /usr/local/bin/ssh   -L   3000::80  h " << QStringList{"3000>:80"};
        QTest::newRow("trailing -L") << "ssh host -L" << QStringList{};
        QTest::newRow("bad spec shapes")
            << "ssh -L 8080:db -L a:1:b:c:2 -L 1:[::1]:2 -L9:x:10 h" << QStringList{"9>x:10"};
        QTest::newRow("remote and dynamic")
            << "ssh -R 8080:localhost:80 -D 1080 -R9000:a:1 host" << QStringList{};
        QTest::newRow("daemon") << "sshd -L 8080:localhost:80" << QStringList{};
        QTest::newRow("wrapper") << "autossh -M 0 -L 8080:localhost:80 host" << QStringList{};
        QTest::newRow("empty") << "" << QStringList{};
    }
    void sshForwards()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, expected);
        ProcessDetail detail;
        detail.fullCommand = command;
        QCOMPARE(describe(varlo::sshForwards(detail)), expected);
    }
};

QTEST_GUILESS_MAIN(TstSSHForward)
#include "tst_sshforward.moc"
