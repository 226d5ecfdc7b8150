#include "detectors/VPNDetector.h"
#include "monitor/BlockingPool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <limits>
#include <qcoro/qcorofuture.h>

namespace varlo {

namespace {

// Values of <linux/if.h> and <linux/if_tun.h>, spelled out so this builds anywhere.
constexpr quint64 interfaceUp = 0x1;  // IFF_UP
constexpr quint64 tunDevice = 0x0001; // IFF_TUN (as opposed to IFF_TAP, 0x0002)
constexpr quint64 tapDevice = 0x0002;

QStringList splitLines(const QString& text)
{
    return text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
}

// Small attribute files only; anything larger is not what we expect.
std::optional<QString> readAttribute(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(4096);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return QString::fromLatin1(bytes).trimmed();
}

std::optional<quint64> readNumber(const QString& path)
{
    const std::optional<QString> text = readAttribute(path);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const quint64 value = text->toULongLong(&ok, 0); // sysfs prints flags as 0x…
    return ok ? std::optional<quint64>(value) : std::nullopt;
}

bool isWireGuard(const QDir& device)
{
    const std::optional<QString> uevent = readAttribute(device.filePath(QStringLiteral("uevent")));
    return uevent && splitLines(*uevent).contains(QStringLiteral("DEVTYPE=wireguard"));
}

bool isTun(const QDir& device)
{
    // Only tun/tap devices have tun_flags; tap ones mostly belong to virtual machines.
    const std::optional<quint64> flags = readNumber(device.filePath(QStringLiteral("tun_flags")));
    return flags && (*flags & tunDevice) && !(*flags & tapDevice);
}

bool isConnected(const QDir& device)
{
    const std::optional<quint64> flags = readNumber(device.filePath(QStringLiteral("flags")));
    if (!flags || !(*flags & interfaceUp))
        return false;
    // A tun device left up with no client attached has no carrier. An unreadable
    // carrier does not disqualify it.
    const std::optional<QString> carrier = readAttribute(device.filePath(QStringLiteral("carrier")));
    return !carrier || *carrier != QLatin1String("0");
}

} // namespace

const QStringList VPNDetector::scutilArguments{QStringLiteral("--nc"), QStringLiteral("list")};
const QStringList VPNDetector::nmcliArguments{
    QStringLiteral("-t"),         QStringLiteral("-f"),   QStringLiteral("NAME,TYPE,STATE"),
    QStringLiteral("connection"), QStringLiteral("show"), QStringLiteral("--active")};

VPNDetector::VPNDetector()
    : VPNDetector(ToolPaths::system(), systemCommandRunner(), QStringLiteral("/sys/class/net"))
{
}

VPNDetector::VPNDetector(ToolPaths tools, CommandRunner runner, QString netClassRoot)
    : m_tools(std::move(tools)), m_runner(std::move(runner)), m_netClassRoot(std::move(netClassRoot))
{
}

std::optional<QString> VPNDetector::quotedName(const QString& line)
{
    const qsizetype open = line.indexOf(QLatin1Char('"'));
    if (open < 0)
        return std::nullopt;
    const qsizetype close = line.indexOf(QLatin1Char('"'), open + 1);
    if (close < 0)
        return std::nullopt;
    const QString name = line.mid(open + 1, close - open - 1);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<QString> VPNDetector::connectedService(const QString& scutilOutput)
{
    if (scutilOutput.isEmpty())
        return std::nullopt;
    const QStringList lines = splitLines(scutilOutput);
    for (const QString& line : lines) {
        if (line.contains(QLatin1String("(Connected)")))
            return quotedName(line).value_or(QStringLiteral("VPN"));
    }
    return std::nullopt;
}

QStringList VPNDetector::terseFields(const QString& line)
{
    QStringList fields;
    QString current;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            current += line[++i];
        } else if (c == QLatin1Char(':')) {
            fields.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    fields.append(current);
    return fields;
}

std::optional<QString> VPNDetector::activeNetworkManagerVpn(const QString& nmcliOutput)
{
    if (nmcliOutput.isEmpty())
        return std::nullopt;
    const QStringList lines = splitLines(nmcliOutput);
    for (const QString& line : lines) {
        const QStringList fields = terseFields(line);
        if (fields.size() != 3)
            continue;
        const QString& type = fields[1];
        if (type != QLatin1String("vpn") && type != QLatin1String("wireguard"))
            continue;
        if (fields[2] != QLatin1String("activated"))
            continue;
        return fields[0].isEmpty() ? QStringLiteral("VPN") : fields[0];
    }
    return std::nullopt;
}

std::optional<QString> VPNDetector::upTunnelInterface(const QString& netClassRoot)
{
    if (netClassRoot.isEmpty())
        return std::nullopt;
    struct Candidate
    {
        quint64 index;
        QString name;
    };
    QList<Candidate> candidates;
    const QDir root(netClassRoot);
    const QStringList names = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QDir device(root.filePath(name));
        if (!(isWireGuard(device) || isTun(device)) || !isConnected(device))
            continue;
        const quint64 index = readNumber(device.filePath(QStringLiteral("ifindex")))
                                  .value_or(std::numeric_limits<quint64>::max());
        candidates.append({index, name});
    }
    if (candidates.isEmpty())
        return std::nullopt;
    // Stable: equal or unknown indexes keep the name order.
    const auto first =
        std::min_element(candidates.cbegin(), candidates.cend(),
                         [](const Candidate& a, const Candidate& b) { return a.index < b.index; });
    return first->name;
}

QCoro::Task<std::optional<QString>> VPNDetector::detect() const
{
    // Copies only: the detector may be gone before the worker finishes. A named
    // future: GCC 12 destroys temporaries inside a co_await operand twice.
    QFuture<std::optional<QString>> found = QtConcurrent::run(
        &blockingPool(), [tools = m_tools, runner = m_runner, netClassRoot = m_netClassRoot]() -> std::optional<QString> {
            if (!tools.scutil.isEmpty())
                return connectedService(runner(tools.scutil, scutilArguments, toolTimeout));
            if (!tools.nmcli.isEmpty()) {
                if (auto name = activeNetworkManagerVpn(runner(tools.nmcli, nmcliArguments, toolTimeout)))
                    return name;
            }
            return upTunnelInterface(netClassRoot);
        });
    co_return co_await found;
}

} // namespace varlo
