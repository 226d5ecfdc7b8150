#include "detectors/SSHForward.h"

#include <QTest>

using namespace varlo;

class TstSSHForward : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sshForwards_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("expected"); // "local>host:port" per forward
        QTest::newRow("among other options") << "ssh -N -L 8080:localhost:80 -R 1:a:2 -D 1080 -L 8080:db -L "
                                                "a:1:b:c:2 -L 1:[::1]:2 -L9000:db:5432 h"
                                             << QString("8080>localhost:80 9000>db:5432");
        QTest::newRow("bind address, path, spaces, trailing -L")
            << "  /usr/local/bin/ssh   -L   127.0.0.1:3000::80  h -L" << QString("3000>:80");
        QTest::newRow("daemon") << "sshd -L 8080:localhost:80" << QString();
        QTest::newRow("wrapper") << "autossh -M 0 -L 8080:localhost:80 host" << QString();
        QTest::newRow("empty") << "" << QString();
    }
    void sshForwards()
    {
        QFETCH(QString, command);
        QStringList found;
        for (const SSHForward& f : varlo::sshForwards(ProcessDetail{.fullCommand = command}))
            found << f.localPort + '>' + f.remoteHost + ':' + f.remotePort;
        QTEST(found.join(' '), "expected");
    }
};

QTEST_GUILESS_MAIN(TstSSHForward)
#include "tst_sshforward.moc"
