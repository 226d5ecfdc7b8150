#pragma once

#include <QElapsedTimer>
#include <QWidget>

namespace varlo {

// The window that hosts the panel content: frameless and rounded beside the
// tray icon, or an ordinary titled window where there is no tray.
class MenuBarPanel : public QWidget
{
    Q_OBJECT

public:
    enum class Mode
    {
        popup,    // X11: placed by us, closed by Qt on a click elsewhere
        floating, // Wayland: placed by the compositor, closed when it loses focus
        window,   // no tray: a titled window
    };

    explicit MenuBarPanel(QWidget* content, QWidget* parent = nullptr);

    void setMode(Mode mode);
    Mode mode() const { return m_mode; }
    // Translucent corners need a compositor; without one the background is opaque.
    void setCompositing(bool compositing);
    bool isCompositing() const { return m_compositing; }
    QWidget* content() const { return m_content; }

    static constexpr int cornerRadius = 12;
    // Focus lost this soon after showing is the showing itself settling.
    static constexpr int deactivationGraceMs = 500;

Q_SIGNALS:
    // Hidden, by Varlo or by the user: a click elsewhere (Qt closes the popup),
    // focus moving away, or the window's close button.
    void hidden();
    // The content asked for a new size.
    void contentResized();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void applyFlags();

    QWidget* m_content;
    Mode m_mode = Mode::popup;
    bool m_compositing = false;
    QElapsedTimer m_sinceShown;
};

} // namespace varlo
