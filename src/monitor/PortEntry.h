#pragma once

#include <QDir>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>
#include <optional>

namespace varlo {

enum class Proto
{
    tcp,
    udp
};

// Raw values "TCP" and "UDP"; any other text gives no value.
std::optional<Proto> protoFromRawValue(const QString& raw);
QString rawValue(Proto proto);

enum class Address
{
    localhost,
    allInterfaces
};

// One listening TCP port of one process, as one scan saw it.
struct PortEntry
{
    QUuid id = QUuid::createUuid(); // fresh for every entry of every scan
    qint64 port = 0;
    qint64 pid = 0;
    QString processName;
    QString binaryPath;
    QString workingDirectory;
    Proto proto = Proto::tcp;
    Address address = Address::localhost;
    QSet<QString> devices;
    qint64 ppid = 0;
    // The owner's login name when the socket is visible but its process is
    // not (another user's listener): such an entry has pid 0.
    QString userName;

    // The working directory with the home folder shortened to "~", else the binary path.
    QString displayPath(const QString& homePath = QDir::homePath()) const;
    bool isLikelyWebServer() const;

    bool operator==(const PortEntry&) const = default;
};

size_t qHash(const PortEntry& entry, size_t seed = 0);

// The entries of one port that belong together: one process, or a process
// family sharing the socket.
struct PortGroup
{
    qint64 port = 0;
    QList<PortEntry> members; // never empty
    std::optional<qint64> primaryPID;
    bool sharesPortWithOthers = false;

    const PortEntry& primary() const;
    QString id() const; // "<port>-<pid of primary>"

    static QList<PortGroup> group(const QList<PortEntry>& entries);
};

} // namespace varlo
