#include "TestSupport.h"
#include "detectors/VPNDetector.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>

using namespace varlo;

namespace {

QString show(const std::optional<QString>& name)
{
    return name.value_or("-");
}

// Lays out one /sys/class/net entry from "name index flags kind carrier"; kind
// is wireguard, tun, tap or ether, and carrier "-" leaves that file out.
bool addInterface(const QString& root, const QString& spec)
{
    const QStringList p = spec.split(' ');
    const QDir device(QDir(root).filePath(p.value(0)));
    QMap<QString, QByteArray> files{{"ifindex", p.value(1).toUtf8()}, {"flags", p.value(2).toUtf8()}};
    files["uevent"] = p.value(3) == "wireguard" ? "DEVTYPE=wireguard\nINTERFACE=x\n" : "INTERFACE=x\n";
    if (p.value(3) == "tun" || p.value(3) == "tap")
        files["tun_flags"] = p.value(3) == "tun" ? "0x1001\n" : "0x1002\n";
    if (p.value(4) != "-")
        files["carrier"] = p.value(4).toUtf8() + '\n';
    bool ok = p.size() == 5 && QDir().mkpath(device.path());
    for (auto it = files.cbegin(); ok && it != files.cend(); ++it) {
        QFile file(device.filePath(it.key()));
        ok = file.open(QIODevice::WriteOnly) && file.write(it.value()) == it.value().size();
    }
    return ok;
}

} // namespace

class TstVPNDetector : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectedService_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("expected");
        const QString header = "Available network connection services in the current set (*=enabled):\n";
        const QString home = "* (Disconnected)   1A2B-01 PPP --> L2TP   \"Home\"   [PPP:L2TP]\n";
        const QString office = "* (Connected)      1A2B-02 PPP --> L2TP   \"Office VPN\"   [PPP:L2TP]\r\n";
        QTest::newRow("header only") << header << "-";
        QTest::newRow("connected after disconnected") << header + home + office << "Office VPN";
        QTest::newRow("first connected wins")
            << header + "* (Connected) 1 IPSec \"Lab\" [IPSec]\n" + office << "Lab";
        QTest::newRow("empty quotes") << header + "* (Connected) 1 IPSec \"\" [IPSec]"
                                      << "VPN";
        QTest::newRow("one quote") << header + "* (Connected) 1 IPSec \"Broken [IPSec]"
                                   << "VPN";
        QTest::newRow("connecting") << header + "* (Connecting) 1 IPSec \"Soon\" [IPSec]"
                                    << "-";
    }
    void connectedService()
    {
        QFETCH(QString, output);
        QFETCH(QString, expected);
        QCOMPARE(show(VPNDetector::connectedService(output)), expected);
    }

    void activeNetworkManagerVpn_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("expected");
        QTest::newRow("vpn after ethernet")
            << "Wired connection 1:802-3-ethernet:activated\nOffice:vpn:activated"
            << "Office";
        QTest::newRow("first activated wins") << "A:vpn:activating\nB:wireguard:activated\nC:vpn:activated"
                                              << "B";
        QTest::newRow("escapes") << "Lab\\: east \\\\1:vpn:activated"
                                 << "Lab: east \\1";
        QTest::newRow("malformed") << "garbage\n:::\nx:vpn\nx:vpn:activated:extra\n\\"
                                   << "-";
        QTest::newRow("empty name") << ":vpn:activated"
                                    << "VPN";
    }
    void activeNetworkManagerVpn()
    {
        QFETCH(QString, output);
        QFETCH(QString, expected);
        QCOMPARE(show(VPNDetector::activeNetworkManagerVpn(output)), expected);
    }

    void upTunnelInterface_data()
    {
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<QString>("expected");
        QTest::newRow("wireguard up")
            << QStringList{"eth0 2 0x1003 ether 1", "wg0 5 0x91 wireguard 1"} << "wg0";
        QTest::newRow("wireguard down") << QStringList{"wg0 5 0x90 wireguard -"} << "-";
        QTest::newRow("tun up") << QStringList{"tun0 7 0x1091 tun 1"} << "tun0";
        QTest::newRow("tun without client") << QStringList{"tun0 7 0x1091 tun 0"} << "-";
        QTest::newRow("tap is no vpn") << QStringList{"tap0 7 0x1003 tap 1"} << "-";
        QTest::newRow("lowest index wins")
            << QStringList{"a-tun 9 0x1091 tun 1", "z-wg 4 0x91 wireguard 1"} << "z-wg";
    }
    void upTunnelInterface()
    {
        QFETCH(QStringList, interfaces);
        QFETCH(QString, expected);
        QTemporaryDir root;
        for (const QString& spec : interfaces)
            QVERIFY(addInterface(root.path(), spec));
        QCOMPARE(show(VPNDetector::upTunnelInterface(root.path())), expected);
        QCOMPARE(show(VPNDetector::upTunnelInterface(root.filePath("missing"))), "-");
    }

    // Which sources are asked, in which order, and which one decides.
    void detect_data()
    {
        QTest::addColumn<QString>("scutilOutput"); // "-": no scutil
        QTest::addColumn<QString>("nmcliOutput");  // "-": no nmcli
        QTest::addColumn<QStringList>("expectedRuns");
        QTest::addColumn<QString>("expected");
        const QString scutil = "/sbin/scutil --nc list";
        const QString nmcli = "/bin/nmcli -t -f NAME,TYPE,STATE connection show --active";
        QTest::newRow("scutil decides") << "* (Connected) 1 IPSec \"Office\""
                                        << "A:vpn:activated" << QStringList{scutil} << "Office";
        QTest::newRow("scutil says none") << "* (Disconnected) 1 IPSec \"Office\""
                                          << "A:vpn:activated" << QStringList{scutil} << "-";
        QTest::newRow("networkmanager") << "-"
                                        << "A:vpn:activated" << QStringList{nmcli} << "A";
        QTest::newRow("networkmanager down") << "-"
                                             << "" << QStringList{nmcli} << "wg0";
        QTest::newRow("no tools") << "-"
                                  << "-" << QStringList{} << "wg0";
    }
    void detect()
    {
        QFETCH(QString, scutilOutput);
        QFETCH(QString, nmcliOutput);
        QFETCH(QStringList, expectedRuns);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QVERIFY(addInterface(root.path(), "wg0 5 0x91 wireguard 1"));
        ToolPaths tools;
        tools.scutil = scutilOutput == "-" ? QString() : "/sbin/scutil";
        tools.nmcli = nmcliOutput == "-" ? QString() : "/bin/nmcli";
        auto runs = std::make_shared<QStringList>();
        auto mutex = std::make_shared<QMutex>();
        const VPNDetector detector(
            tools,
            [=](const QString& program, const QStringList& arguments, double timeout) {
                const QMutexLocker lock(mutex.get());
                runs->append(program + ' ' + arguments.join(' '));
                if (timeout != 8.0)
                    return QString();
                return program.endsWith("scutil") ? scutilOutput : nmcliOutput;
            },
            root.path());
        const auto result = test::awaitTask(detector.detect(), std::chrono::seconds(10));
        QVERIFY(result);
        QCOMPARE(show(*result), expected);
        const QMutexLocker lock(mutex.get());
        QCOMPARE(*runs, expectedRuns);
    }
};

QTEST_GUILESS_MAIN(TstVPNDetector)
#include "tst_vpndetector.moc"
