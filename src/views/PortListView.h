#pragma once

#include "views/HistorySection.h"
#include "views/PortRowView.h"

#include <QHash>
#include <QList>
#include <QScrollArea>

class QVBoxLayout;

namespace varlo {

// The scrolling list of port rows, optionally followed by the history
// section. Rows are keyed by their group's id and updated in place; an update
// that shows nothing new touches no widget. Its height is the rows' measured
// height, capped at half the available height of its screen.
class PortListView : public QScrollArea
{
    Q_OBJECT

public:
    struct Row
    {
        QString key; // the group id, unique within one update
        PortRowState state;
    };

    static constexpr int capWithoutScreen = 400;

    explicit PortListView(QWidget* parent = nullptr);

    void setRows(const QList<Row>& rows);
    // `shown` false hides the section whatever `entries` holds.
    void setHistory(bool shown, const QList<PortHistoryRowTexts>& entries);

    QList<PortRowView*> rows() const;
    PortRowView* row(const QString& key) const { return m_rows.value(key); }
    HistorySection* historySection() const { return m_history; }
    // Half the available height of the screen the list is on; 400 without one.
    int heightCap() const;
    // Caps against a screen of this available height instead (pictures of a given screen).
    void setScreenHeight(int height);

Q_SIGNALS:
    void toggleExpandRequested(const varlo::PortGroup& group);
    void killRequested(const varlo::PortGroup& group);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PortRowView* makeRow(const QString& key);
    void updateDividers();
    void updateHeight();

    QWidget* m_content;
    QVBoxLayout* m_rowsLayout;
    HistorySection* m_history;
    QList<QString> m_order;
    QHash<QString, PortRowView*> m_rows;
    bool m_historyShown = false;
    int m_screenHeight = 0; // 0: the real screen's
};

} // namespace varlo
