#include "monitor/PortHistory.h"

#include "monitor/CompactDuration.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>
#include <utility>

namespace varlo {

namespace {

const QString portKey = QStringLiteral("port");
const QString nameKey = QStringLiteral("lastProcessName");
const QString firstSeenKey = QStringLiteral("firstSeen");
const QString lastSeenKey = QStringLiteral("lastSeen");
const QString activeKey = QStringLiteral("isActive");

std::optional<qint64> integralMember(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::floor(number) != number || std::fabs(number) >= 9.0e18)
        return std::nullopt;
    return static_cast<qint64>(number);
}

std::optional<PortHistoryEntry> decodeEntry(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto port = integralMember(object.value(portKey));
    const QJsonValue name = object.value(nameKey);
    const QJsonValue firstSeen = object.value(firstSeenKey);
    const QJsonValue lastSeen = object.value(lastSeenKey);
    const QJsonValue active = object.value(activeKey);
    if (!port || !name.isString() || !firstSeen.isDouble() || !lastSeen.isDouble() || !active.isBool())
        return std::nullopt;
    return PortHistoryEntry{*port, name.toString(), firstSeen.toDouble(), lastSeen.toDouble(),
                            active.toBool()};
}

// Whole seconds, fraction dropped; clamped so absurd stored times cannot overflow.
qint64 wholeSeconds(double seconds)
{
    if (std::isnan(seconds))
        return 0;
    return static_cast<qint64>(std::clamp(seconds, -9.0e18, 9.0e18));
}

// Runs on the writer thread. The entries kept after `cutoff`, all inactive;
// nothing when there is no file or it is not a history (then marked to be kept aside).
std::optional<PortHistoryMap> readFile(const QString& path, ReferenceTime cutoff,
                                       std::atomic<bool>& keepAside)
{
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    QFile file(path);
    // Not a regular file (a FIFO would block the read), too large, or unreadable.
    if (!info.isFile() || info.size() > PortHistory::maxFileBytes || !file.open(QIODevice::ReadOnly)) {
        keepAside = true;
        return std::nullopt;
    }
    const QByteArray json = file.read(PortHistory::maxFileBytes + 1);
    const auto entries = json.size() <= PortHistory::maxFileBytes && file.error() == QFileDevice::NoError
                             ? PortHistory::decode(json)
                             : std::nullopt;
    if (!entries) {
        keepAside = true;
        return std::nullopt;
    }
    PortHistoryMap byPort;
    for (const PortHistoryEntry& entry : *entries) {
        if (entry.lastSeen < cutoff)
            continue;
        // The same port twice: the later sighting wins.
        const auto existing = byPort.constFind(entry.port);
        if (existing != byPort.cend() && existing->lastSeen >= entry.lastSeen)
            continue;
        byPort.insert(entry.port, entry);
    }
    for (PortHistoryEntry& entry : byPort)
        entry.isActive = false;
    return byPort;
}

// Runs on the writer thread.
void writeSnapshot(const QString& path, const PortHistoryMap& snapshot, std::atomic<bool>& keepAside)
{
    QList<PortHistoryEntry> entries = snapshot.values();
    std::sort(entries.begin(), entries.end(),
              [](const PortHistoryEntry& a, const PortHistoryEntry& b) { return a.port < b.port; });
    const QByteArray json = PortHistory::encode(entries);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (keepAside.exchange(false)) {
        const QString aside = path + QStringLiteral(".corrupt");
        QFile::remove(aside);
        QFile::rename(path, aside);
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(json) == json.size())
        file.commit();
}

} // namespace

ReferenceTime currentReferenceTime()
{
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - referenceEpochUnixOffset;
}

PortHistory::PortHistory(QString filePath, Clock clock, QObject* parent)
    : QObject(parent), m_filePath(std::move(filePath)), m_clock(std::move(clock))
{
    m_writer.setMaxThreadCount(1);
    connect(&m_loading, &QFutureWatcherBase::finished, this, &PortHistory::applyLoad);
}

PortHistory::~PortHistory()
{
    waitForWrites();
}

QString PortHistory::standardFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Varlo/port-history.json");
}

QString PortHistory::fileURL() const
{
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    return m_filePath;
}

QByteArray PortHistory::encode(const QList<PortHistoryEntry>& entries)
{
    QJsonArray array;
    for (const PortHistoryEntry& entry : entries) {
        array.append(QJsonObject{{portKey, entry.port},
                                 {nameKey, entry.lastProcessName},
                                 {firstSeenKey, entry.firstSeen},
                                 {lastSeenKey, entry.lastSeen},
                                 {activeKey, entry.isActive}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<PortHistoryEntry>> PortHistory::decode(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray array = document.array();
    QList<PortHistoryEntry> entries;
    entries.reserve(array.size());
    for (const QJsonValue& value : array) {
        auto entry = decodeEntry(value);
        if (!entry)
            return std::nullopt;
        entries.append(std::move(*entry));
    }
    return entries;
}

void PortHistory::load(int retentionDays)
{
    if (isLoading())
        return;
    const ReferenceTime cutoff = m_clock() + retentionDays * -86400.0;
    m_applyPending = true;
    m_loading.setFuture(QtConcurrent::run(&m_writer, readFile, fileURL(), cutoff, std::ref(m_keepFileAside)));
}

void PortHistory::waitForLoad()
{
    m_loading.waitForFinished();
    applyLoad();
}

void PortHistory::applyLoad()
{
    if (!std::exchange(m_applyPending, false))
        return;
    if (std::optional<PortHistoryMap> loaded = m_loading.result())
        setByPort(std::move(*loaded));
    if (std::optional<QList<PortEntry>> ports = std::exchange(m_pendingRecord, std::nullopt))
        record(*ports);
}

void PortHistory::record(const QList<PortEntry>& ports)
{
    if (m_applyPending) {
        m_pendingRecord = ports;
        return;
    }
    QSet<qint64> present;
    for (const PortEntry& entry : ports)
        present.insert(entry.port);

    PortHistoryMap byPort = m_byPort;
    bool changed = false;
    for (const PortEntry& entry : ports) {
        const ReferenceTime now = m_clock();
        auto existing = byPort.find(entry.port);
        if (existing != byPort.end()) {
            if (!existing->isActive)
                changed = true;
            existing->lastSeen = now;
            existing->lastProcessName = entry.processName;
            existing->isActive = true;
        } else {
            byPort.insert(entry.port, PortHistoryEntry{entry.port, entry.processName, now, now, true});
            changed = true;
        }
    }
    for (PortHistoryEntry& entry : byPort) {
        if (entry.isActive && !present.contains(entry.port)) {
            entry.isActive = false;
            changed = true;
        }
    }
    setByPort(std::move(byPort));
    if (changed)
        startWrite();
}

void PortHistory::clear()
{
    // Whatever a running load finds is cleared as well.
    m_applyPending = false;
    m_pendingRecord.reset();
    setByPort({});
    startWrite();
}

QString PortHistory::lastSeenText(const PortHistoryEntry& entry) const
{
    if (entry.isActive)
        return QStringLiteral("active");
    // A clock set back would give a negative age; show it as just now.
    return agoText(std::max<qint64>(0, wholeSeconds(m_clock() - entry.lastSeen)));
}

QString PortHistory::firstSeenAgeText(const PortHistoryEntry& entry) const
{
    return compactDuration(wholeSeconds(m_clock() - entry.firstSeen));
}

void PortHistory::waitForWrites()
{
    m_writer.waitForDone();
}

void PortHistory::setByPort(PortHistoryMap byPort)
{
    if (byPort == m_byPort)
        return;
    m_byPort = std::move(byPort);
    Q_EMIT byPortChanged();
}

void PortHistory::startWrite()
{
    ++m_writesStarted;
    // The map is shared, not copied; the writer encodes it.
    (void)QtConcurrent::run(&m_writer, writeSnapshot, m_filePath, m_byPort, std::ref(m_keepFileAside));
}

} // namespace varlo
