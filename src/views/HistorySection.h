#pragma once

#include "monitor/PortHistory.h"

#include <QHash>
#include <QList>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace varlo {

class ElidedLabel;

// What one history row shows.
struct PortHistoryRowTexts
{
    qint64 port = 0;
    QString processName;
    QString since; // "Since 2d 4h"
    QString lastSeen; // "5m ago"

    bool operator==(const PortHistoryRowTexts&) const = default;
};

// One port that listened earlier: the port pill, the last process name, and
// since when and how long ago it was seen.
class PortHistoryRowView : public QWidget
{
    Q_OBJECT

public:
    explicit PortHistoryRowView(QWidget* parent = nullptr);

    void setTexts(const PortHistoryRowTexts& texts);
    const PortHistoryRowTexts& texts() const { return m_texts; }
    void setDividerVisible(bool visible);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PortHistoryRowTexts m_texts;
    bool m_dividerVisible = false;
    QLabel* m_port;
    ElidedLabel* m_name;
    QLabel* m_since;
    QLabel* m_lastSeen;
};

// The panel's history: a "History" header, then one row per port that is not
// listening now, most recently seen first, or a line saying there is none.
class HistorySection : public QWidget
{
    Q_OBJECT

public:
    explicit HistorySection(QWidget* parent = nullptr);

    // Keeps the rows of ports still listed; does nothing when nothing shown changes.
    void setEntries(const QList<PortHistoryRowTexts>& entries);
    QList<PortHistoryRowView*> rows() const;

    // The inactive entries of `history` in the order the panel shows them:
    // later last-seen first.
    static QList<PortHistoryEntry> pastEntries(const PortHistoryMap& history);

private:
    QList<PortHistoryRowTexts> m_entries;
    QVBoxLayout* m_rowsLayout;
    QLabel* m_emptyText;
    QHash<qint64, PortHistoryRowView*> m_rows;
};

} // namespace varlo
