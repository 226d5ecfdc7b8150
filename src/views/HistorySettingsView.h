#pragma once

#include "monitor/PortHistory.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QComboBox;
class QPushButton;
class QStackedWidget;
class QTableWidget;

namespace varlo {

class AppSettings;

// The History tab: the retention picker, Clear History and a table of every
// entry in history order, following the history live.
class HistorySettingsView : public QWidget
{
    Q_OBJECT
public:
    // `history` may be null (no monitor yet) or go away; the tab then shows the empty state.
    HistorySettingsView(PortHistory* history, AppSettings& settings, QList<int> retentionOptions,
                        QWidget* parent = nullptr);

    // Active entries first, then the latest seen first; the port breaks ties.
    static QList<PortHistoryEntry> historyOrder(const PortHistoryMap& byPort);
    // A history time as a time of day in the user's locale; an em dash for a time no clock shows.
    static QString timeOfDay(ReferenceTime time);

    enum Column
    {
        PortColumn,
        ProcessColumn,
        FirstSeenColumn,
        LastSeenColumn,
        StatusColumn,
    };

private:
    void showHistory();
    void showRetention();

    QPointer<PortHistory> m_history;
    AppSettings& m_settings;
    QList<int> m_retentionOptions;
    QComboBox* m_retention;
    QPushButton* m_clear;
    QStackedWidget* m_content;
    QWidget* m_empty;
    QTableWidget* m_table;
};

} // namespace varlo
