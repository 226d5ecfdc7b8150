#pragma once

#include "views/SettingsWindow.h"

#include <QWidget>

class QTabBar;

namespace varlo {

// The settings window's content: the Ports, General, History and About tabs,
// 500 wide, as tall as the selected tab.
class SettingsView : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsView(const SettingsContext& context, QWidget* parent = nullptr);

    QTabBar* tabBar() const { return m_tabBar; }
    QWidget* page(int index) const;
    int currentIndex() const;
    void setCurrentIndex(int index);

    static constexpr int width = 500;
    static inline const QList<int> retentionOptions{7, 15, 30, 60, 90};

protected:
    void showEvent(QShowEvent* event) override;

private:
    void addPage(QWidget* page, const QIcon& icon, const QString& title, Qt::Alignment alignment = {});
    void followTab(int index);

    QTabBar* m_tabBar;
    QWidget* m_pages; // the tabs' pages, only the current one shown
    bool m_shown = false;
};

} // namespace varlo
