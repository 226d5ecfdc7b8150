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
#include <cmath>

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

// Runs on the writer thread.
void writeSnapshot(const QString& path, const QByteArray& json, bool keepOldFileAside)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (keepOldFileAside) {
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
    QFile file(fileURL());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const auto entries = decode(file.readAll());
    if (!entries) {
        // Keep the user's unreadable file instead of silently overwriting it.
        m_keepUnreadableFileAside = true;
        return;
    }
    const ReferenceTime cutoff = m_clock() + retentionDays * -86400.0;
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
    setByPort(std::move(byPort));
}

void PortHistory::record(const QList<PortEntry>& ports)
{
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
    const QByteArray json = encode(m_byPort.values());
    const bool keepAside = std::exchange(m_keepUnreadableFileAside, false);
    (void)QtConcurrent::run(&m_writer, writeSnapshot, m_filePath, json, keepAside);
}

} // namespace varlo
