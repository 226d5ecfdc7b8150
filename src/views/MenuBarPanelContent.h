#pragma once

#include <QWidget>

namespace varlo {

class PortMonitor;

// The tray panel's content: header, body and footer, driven by the monitor.
// Its size hint is the measured height it wants (list capped at half the screen).
class MenuBarPanelContent : public QWidget
{
    Q_OBJECT

public:
    explicit MenuBarPanelContent(PortMonitor& monitor, QWidget* parent = nullptr);
    ~MenuBarPanelContent() override;

Q_SIGNALS:
    void settingsRequested();
    void quitRequested();
    void closeRequested(); // Escape

private:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

    class MenubarView* m_view;
};

} // namespace varlo
