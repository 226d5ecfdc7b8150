#pragma once

#include "settings/DefaultsStore.h"
#include "settings/KeyCombo.h"

#include <QList>
#include <QObject>
#include <QString>
#include <memory>

namespace varlo {

// Every user preference, persisted in a DefaultsStore. Each write that changes
// a value emits its NOTIFY signal; every write (changed or not) rewrites all keys.
class AppSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(
        QString monitoredRange READ monitoredRange WRITE setMonitoredRange NOTIFY monitoredRangeChanged)
    Q_PROPERTY(
        QList<qint64> excludedPorts READ excludedPorts WRITE setExcludedPorts NOTIFY excludedPortsChanged)
    Q_PROPERTY(double scanInterval READ scanInterval WRITE setScanInterval NOTIFY scanIntervalChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(bool showInDock READ showInDock WRITE setShowInDock NOTIFY showInDockChanged)
    Q_PROPERTY(
        bool notifyOnNewPort READ notifyOnNewPort WRITE setNotifyOnNewPort NOTIFY notifyOnNewPortChanged)
    Q_PROPERTY(varlo::KeyCombo hotkey READ hotkey WRITE setHotkey NOTIFY hotkeyChanged)
    Q_PROPERTY(int historyRetentionDays READ historyRetentionDays WRITE setHistoryRetentionDays NOTIFY
                   historyRetentionDaysChanged)
    Q_PROPERTY(bool tunnelDetectionEnabled READ tunnelDetectionEnabled WRITE setTunnelDetectionEnabled NOTIFY
                   tunnelDetectionEnabledChanged)
    Q_PROPERTY(bool dockerDetectionEnabled READ dockerDetectionEnabled WRITE setDockerDetectionEnabled NOTIFY
                   dockerDetectionEnabledChanged)
    Q_PROPERTY(int ngrokAPIPort READ ngrokAPIPort WRITE setNgrokAPIPort NOTIFY ngrokAPIPortChanged)
    Q_PROPERTY(bool hasShownLoginPrompt READ hasShownLoginPrompt WRITE setHasShownLoginPrompt NOTIFY
                   hasShownLoginPromptChanged)
    Q_PROPERTY(bool hasShownUpdatePrompt READ hasShownUpdatePrompt WRITE setHasShownUpdatePrompt NOTIFY
                   hasShownUpdatePromptChanged)

public:
    static constexpr const char* defaultMonitoredRange = "3000-9999";
    static inline const QList<qint64> defaultExcludedPorts{5000, 7000};
    static constexpr double defaultScanInterval = 4.0;
    static constexpr int defaultHistoryRetentionDays = 15;

    // Loads from `store` (which must outlive the settings) without writing to it.
    explicit AppSettings(DefaultsStore& store, QObject* parent = nullptr);

    QString monitoredRange() const { return m_monitoredRange; }
    QList<qint64> excludedPorts() const { return m_excludedPorts; }
    double scanInterval() const { return m_scanInterval; }
    bool launchAtLogin() const { return m_launchAtLogin; }
    bool showInDock() const { return m_showInDock; }
    bool notifyOnNewPort() const { return m_notifyOnNewPort; }
    KeyCombo hotkey() const { return m_hotkey; }
    int historyRetentionDays() const { return m_historyRetentionDays; }
    bool tunnelDetectionEnabled() const { return m_tunnelDetectionEnabled; }
    bool dockerDetectionEnabled() const { return m_dockerDetectionEnabled; }
    int ngrokAPIPort() const { return m_ngrokAPIPort; }
    bool hasShownLoginPrompt() const { return m_hasShownLoginPrompt; }
    bool hasShownUpdatePrompt() const { return m_hasShownUpdatePrompt; }
    bool isLoading() const { return m_isLoading; }
    DefaultsStore& defaults() const { return m_defaults; }

    void setMonitoredRange(const QString& value);
    void setExcludedPorts(const QList<qint64>& value);
    void setScanInterval(double value);
    void setLaunchAtLogin(bool value);
    void setShowInDock(bool value);
    void setNotifyOnNewPort(bool value);
    void setHotkey(const KeyCombo& value);
    void setHistoryRetentionDays(int value);
    void setTunnelDetectionEnabled(bool value);
    void setDockerDetectionEnabled(bool value);
    void setNgrokAPIPort(int value);
    void setHasShownLoginPrompt(bool value);
    void setHasShownUpdatePrompt(bool value);

    // Writes every persisted property; does nothing while loading.
    void save();
    void resetToDefaults();

Q_SIGNALS:
    void monitoredRangeChanged();
    void excludedPortsChanged();
    void scanIntervalChanged();
    void launchAtLoginChanged();
    void showInDockChanged();
    void notifyOnNewPortChanged();
    void hotkeyChanged();
    void historyRetentionDaysChanged();
    void tunnelDetectionEnabledChanged();
    void dockerDetectionEnabledChanged();
    void ngrokAPIPortChanged();
    void hasShownLoginPromptChanged();
    void hasShownUpdatePromptChanged();

private:
    void load();

    DefaultsStore& m_defaults;
    bool m_isLoading = false;
    QString m_monitoredRange = QString::fromLatin1(defaultMonitoredRange);
    QList<qint64> m_excludedPorts = defaultExcludedPorts;
    double m_scanInterval = defaultScanInterval;
    bool m_launchAtLogin = false;
    bool m_showInDock = false;
    bool m_notifyOnNewPort = false;
    KeyCombo m_hotkey;
    int m_historyRetentionDays = defaultHistoryRetentionDays;
    bool m_tunnelDetectionEnabled = true;
    bool m_dockerDetectionEnabled = true;
    int m_ngrokAPIPort = 0;
    bool m_hasShownLoginPrompt = false;
    bool m_hasShownUpdatePrompt = false;
};

} // namespace varlo
