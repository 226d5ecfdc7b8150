#pragma once

#include "monitor/PortEntry.h"

#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <atomic>
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
// thread. The file is read, decoded, encoded and written on one background
// thread, in the order the work was started: the newest snapshot always lands
// last, and no write can overtake the read of the file it replaces.
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

    // Starts reading the file; the map is filled when it has been decoded.
    // A file that cannot be read, does not decode or is larger than
    // `maxFileBytes` is moved aside to "<file>.corrupt" before the next write.
    void load(int retentionDays);
    bool isLoading() const { return m_loading.isRunning() || m_applyPending; }
    // Blocks until a started load has filled the map (tests, tools).
    void waitForLoad();
    // During a load, only the latest call is kept and applied once it is done.
    void record(const QList<PortEntry>& ports);
    void clear();

    QString lastSeenText(const PortHistoryEntry& entry) const;
    QString firstSeenAgeText(const PortHistoryEntry& entry) const;

    // Blocks until every started write has landed (quit, tests).
    void waitForWrites();
    int writesStarted() const { return m_writesStarted; }

    // Varlo writes at most one entry per port number; a file many times that
    // size is not one of ours.
    static constexpr qint64 maxFileBytes = 16 * 1024 * 1024;

    static QByteArray encode(const QList<PortHistoryEntry>& entries);
    // Absent when the text is not an array of complete, well-typed entries.
    static std::optional<QList<PortHistoryEntry>> decode(const QByteArray& json);

Q_SIGNALS:
    void byPortChanged();

private:
    void setByPort(PortHistoryMap byPort);
    void startWrite();
    void applyLoad();

    QString m_filePath;
    Clock m_clock;
    PortHistoryMap m_byPort;
    // Set by the read, cleared by the write that moves the file aside; both
    // run on the writer thread.
    std::atomic<bool> m_keepFileAside = false;
    QFutureWatcher<std::optional<PortHistoryMap>> m_loading;
    bool m_applyPending = false;
    std::optional<QList<PortEntry>> m_pendingRecord;
    int m_writesStarted = 0;
    QThreadPool m_writer;
};

} // namespace varlo
