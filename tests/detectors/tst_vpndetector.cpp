#include "TestSupport.h"
#include "detectors/VPNDetector.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace varlo;

class TstVPNDetector : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void detect_data()
    {
        QTest::addColumn<QString>("scutil");   // output; "-": no scutil
        QTest::addColumn<QString>("nmcli");    // output; "-": no nmcli
        QTest::addColumn<QString>("files");    // "device/attribute=content ..." under /sys/class/net
        QTest::addColumn<QString>("expected"); // "-": none
        const QString header = "Available network connection services in the current set (*=enabled):\n";
        const QString no = "-";
        const QString wg0 =
            "eth0/ifindex=2 eth0/flags=0x1003 wg0/uevent=DEVTYPE=wireguard wg0/ifindex=5 wg0/flags=0x91";
        QTest::newRow("scutil: first connected")
            << header + "* (Disconnected)   1A2B-01 PPP --> L2TP   \"Home\"   [PPP:L2TP]\n"
                        "* (Connected)      1A2B-02 PPP --> L2TP   \"Office VPN\"   [PPP:L2TP]\r\n"
                        "* (Connected) 1 IPSec \"Lab\" [IPSec]"
            << no << wg0 << "Office VPN";
        QTest::newRow("scutil: connected, no name")
            << header +
                   "* (Connected) 1A2B-03 PPP --> L2TP \"\" [PPP:L2TP]\n* (Connected) 2 IPSec \"Lab\" [IPSec]"
            << no << wg0 << "VPN";
        QTest::newRow("scutil: the only source")
            << header + "* (Connecting) 1 IPSec \"Soon\" [IPSec]" << QString("A:vpn:activated") << wg0 << no;
        QTest::newRow("nmcli: first activated vpn")
            << no
            << QString(
                   "W:ethernet:activated\nA:vpn:activating\nL\\: 1\\\\2:wireguard:activated\nC:vpn:activated")
            << wg0 << "L: 1\\2";
        QTest::newRow("nmcli: no name")
            << no << QString(":wireguard:activated\nB:vpn:activated") << wg0 << "VPN";
        QTest::newRow("nmcli: malformed, interface fallback")
            << no << QString("garbage\n:::\nx:vpn\nx:vpn:activated:extra\n\\") << wg0 << "wg0";
        QTest::newRow("down, detached or tap")
            << no << no
            << QString("wg0/uevent=DEVTYPE=wireguard wg0/flags=0x90 tun0/tun_flags=0x1001 tun0/flags=0x1091 "
                       "tun0/carrier=0 tap0/tun_flags=0x1002 tap0/flags=0x1003")
            << no;
    }
    void detect()
    {
        QFETCH(QString, scutil);
        QFETCH(QString, nmcli);
        QFETCH(QString, files);
        QTemporaryDir root;
        for (const QString& spec : files.split(' ', Qt::SkipEmptyParts)) {
            QFile file(root.filePath(spec.section('=', 0, 0)));
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly));
            file.write(spec.section('=', 1).toUtf8() + '\n');
        }
        const QHash<QString, QString> outputs{
            {"/sbin/scutil --nc list", scutil},
            {"/bin/nmcli -t -f NAME,TYPE,STATE connection show --active", nmcli}};
        const VPNDetector detector(
            {{}, {}, {}, scutil == "-" ? "" : "/sbin/scutil", nmcli == "-" ? "" : "/bin/nmcli", {}},
            [outputs](const QString& program, const QStringList& arguments, double) {
                return outputs.value(program + ' ' + arguments.join(' '));
            },
            root.path());
        const auto result = test::awaitTask(detector.detect(), std::chrono::seconds(10));
        QVERIFY(result);
        QTEST(result->value_or("-"), "expected");
    }
};

QTEST_GUILESS_MAIN(TstVPNDetector)
#include "tst_vpndetector.moc"
