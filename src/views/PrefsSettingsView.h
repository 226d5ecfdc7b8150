#pragma once

#include "services/DesktopSettings.h"
#include "views/SettingsWindow.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QToolButton;

namespace varlo {

struct KeyCombo;
class KeyRecorderView;
class SymbolLabel;

// The General tab: every preference besides the ports, each control writing the
// store at once and carrying out its desktop action on the spot.
class PrefsSettingsView : public QWidget
{
    Q_OBJECT
public:
    explicit PrefsSettingsView(const SettingsContext& context, QWidget* parent = nullptr);

    // The scan-interval choices, in order: title and seconds.
    struct IntervalChoice
    {
        const char* title;
        double seconds;
    };
    static const QList<IntervalChoice>& intervalChoices();

    bool isNotifyDenied() const { return m_notifyDenied; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void changeLoginItem(bool enabled);
    void showLoginItem();
    void changeNotify(bool enabled);
    void checkNotifications();
    void setNotifyDenied(bool denied);
    void recordShortcut(const KeyCombo& combo);
    void clearShortcut();
    void showShortcut();
    void commitNgrokPort();
    void showNgrokPort();
    void showScanInterval();

    AppSettings& m_settings;
    SettingsContext m_context;
    DesktopSettings m_desktopSettings;
    bool m_notifyDenied = false;

    QCheckBox* m_launchAtLogin = nullptr;
    SymbolLabel* m_loginItemError = nullptr;
    QComboBox* m_scanInterval = nullptr;
    QCheckBox* m_notify = nullptr;
    QWidget* m_notifyDeniedRow = nullptr;
    KeyRecorderView* m_recorder = nullptr;
    QToolButton* m_clearShortcut = nullptr;
    QWidget* m_ngrokRow = nullptr;
    QLineEdit* m_ngrokPort = nullptr;
};

} // namespace varlo
