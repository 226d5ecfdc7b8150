#pragma once

#include "monitor/PortEntry.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <functional>
#include <optional>

namespace varlo {

// Seconds since 2001-01-01 00:00:00 UTC, the epoch of the history file.
using ReferenceTime = double;
constexpr double referenceEpochUnixOffset = 978307200.0;
ReferenceTime currentReferenceTime();

struct PortHistoryEntry
{
    qint64 port = 0;
    QString lastProcessName;
    ReferenceTime firstSeen = 0;
    ReferenceTime lastSeen = 0;
    bool isActive = false;

    bool operator==(const PortHistoryEntry&) const = default;
};

using PortHistoryMap = QHash<qint64, PortHistoryEntry>;

// Every port seen listening, persisted in port-history.json. Lives on the main
// thread; file writes go to one background writer, in the order they were
// started, so the newest snapshot always lands last.
class PortHistory : public QObject
{
    Q_OBJECT
    Q_PROPERTY(varlo::PortHistoryMap byPort READ byPort NOTIFY byPortChanged)

public:
    using Clock = std::function<ReferenceTime()>;

    // `filePath` defaults to Varlo/port-history.json in the per-user data folder.
    explicit PortHistory(QString filePath = standardFilePath(), Clock clock = currentReferenceTime,
                         QObject* parent = nullptr);
    ~PortHistory() override; // finishes pending writes

    static QString standardFilePath();
    // The history file; computing it creates its folder.
    QString fileURL() const;

    PortHistoryMap byPort() const { return m_byPort; }

    void load(int retentionDays);
    void record(const QList<PortEntry>& ports);
    void clear();

    QString lastSeenText(const PortHistoryEntry& entry) const;
    QString firstSeenAgeText(const PortHistoryEntry& entry) const;

    // Blocks until every started write has landed (quit, tests).
    void waitForWrites();
    int writesStarted() const { return m_writesStarted; }

    static QByteArray encode(const QList<PortHistoryEntry>& entries);
    // Absent when the text is not an array of complete, well-typed entries.
    static std::optional<QList<PortHistoryEntry>> decode(const QByteArray& json);

Q_SIGNALS:
    void byPortChanged();

private:
    void setByPort(PortHistoryMap byPort);
    void startWrite();

    QString m_filePath;
    Clock m_clock;
    PortHistoryMap m_byPort;
    bool m_keepUnreadableFileAside = false;
    int m_writesStarted = 0;
    QThreadPool m_writer;
};

} // namespace varlo
