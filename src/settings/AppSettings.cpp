#include "settings/AppSettings.h"

#include <cmath>
#include <limits>

namespace varlo {

namespace {

// Generic setter: store, notify on a real change, persist on every write.
template<typename T, typename Signal>
void assign(AppSettings& settings, T& field, const T& value, Signal changed)
{
    const bool differs = !(field == value);
    field = value;
    if (differs)
        Q_EMIT(settings.*changed)();
    settings.save();
}

// An integral JSON number that fits 64 bits; doubles such as 5000.0 count.
std::optional<qint64> integerElement(const QVariant& element)
{
    switch (element.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        return element.toLongLong();
    case QMetaType::Double: {
        const double number = element.toDouble();
        if (std::isfinite(number) && std::floor(number) == number && std::fabs(number) < 9.0e18)
            return static_cast<qint64>(number);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

int clampToInt(qint64 value)
{
    return static_cast<int>(
        std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

} // namespace

AppSettings::AppSettings(DefaultsStore& store, QObject* parent) : QObject(parent), m_defaults(store)
{
    m_isLoading = true;
    load();
    m_isLoading = false;
}

void AppSettings::setMonitoredRange(const QString& value)
{
    assign(*this, m_monitoredRange, value, &AppSettings::monitoredRangeChanged);
}
void AppSettings::setExcludedPorts(const QList<qint64>& value)
{
    assign(*this, m_excludedPorts, value, &AppSettings::excludedPortsChanged);
}
void AppSettings::setScanInterval(double value)
{
    // NaN never equals itself; storing NaN twice is not a change.
    const bool same = value == m_scanInterval || (std::isnan(value) && std::isnan(m_scanInterval));
    m_scanInterval = value;
    if (!same)
        Q_EMIT scanIntervalChanged();
    save();
}
void AppSettings::setLaunchAtLogin(bool value)
{
    assign(*this, m_launchAtLogin, value, &AppSettings::launchAtLoginChanged);
}
void AppSettings::setShowInDock(bool value)
{
    assign(*this, m_showInDock, value, &AppSettings::showInDockChanged);
}
void AppSettings::setNotifyOnNewPort(bool value)
{
    assign(*this, m_notifyOnNewPort, value, &AppSettings::notifyOnNewPortChanged);
}
void AppSettings::setHotkey(const KeyCombo& value)
{
    assign(*this, m_hotkey, value, &AppSettings::hotkeyChanged);
}
void AppSettings::setHistoryRetentionDays(int value)
{
    assign(*this, m_historyRetentionDays, value, &AppSettings::historyRetentionDaysChanged);
}
void AppSettings::setTunnelDetectionEnabled(bool value)
{
    assign(*this, m_tunnelDetectionEnabled, value, &AppSettings::tunnelDetectionEnabledChanged);
}
void AppSettings::setDockerDetectionEnabled(bool value)
{
    assign(*this, m_dockerDetectionEnabled, value, &AppSettings::dockerDetectionEnabledChanged);
}
void AppSettings::setNgrokAPIPort(int value)
{
    assign(*this, m_ngrokAPIPort, value, &AppSettings::ngrokAPIPortChanged);
}
void AppSettings::setHasShownLoginPrompt(bool value)
{
    assign(*this, m_hasShownLoginPrompt, value, &AppSettings::hasShownLoginPromptChanged);
}
void AppSettings::setHasShownUpdatePrompt(bool value)
{
    assign(*this, m_hasShownUpdatePrompt, value, &AppSettings::hasShownUpdatePromptChanged);
}

void AppSettings::save()
{
    if (m_isLoading)
        return;
    m_defaults.setString(QStringLiteral("monitoredRange"), m_monitoredRange);
    m_defaults.setIntegerArray(QStringLiteral("excludedPorts"), m_excludedPorts);
    m_defaults.setDouble(QStringLiteral("scanInterval"), m_scanInterval);
    m_defaults.setBoolean(QStringLiteral("launchAtLogin"), m_launchAtLogin);
    m_defaults.setBoolean(QStringLiteral("showInDock"), m_showInDock);
    m_defaults.setBoolean(QStringLiteral("notifyOnNewPort"), m_notifyOnNewPort);
    m_defaults.setData(QStringLiteral("hotkey"), m_hotkey.toJson());
    m_defaults.setInteger(QStringLiteral("historyRetentionDays"), m_historyRetentionDays);
    m_defaults.setBoolean(QStringLiteral("tunnelDetectionEnabled"), m_tunnelDetectionEnabled);
    m_defaults.setBoolean(QStringLiteral("dockerDetectionEnabled"), m_dockerDetectionEnabled);
    m_defaults.setInteger(QStringLiteral("ngrokAPIPort"), m_ngrokAPIPort);
    m_defaults.setBoolean(QStringLiteral("hasShownLoginPrompt"), m_hasShownLoginPrompt);
    m_defaults.setBoolean(QStringLiteral("hasShownUpdatePrompt"), m_hasShownUpdatePrompt);
}

void AppSettings::load()
{
    const DefaultsStore& store = m_defaults;

    if (auto range = store.string(QStringLiteral("monitoredRange")))
        setMonitoredRange(*range);

    if (auto stored = store.array(QStringLiteral("excludedPorts"))) {
        QList<qint64> ports;
        bool allIntegers = true;
        for (const QVariant& element : std::as_const(*stored)) {
            const auto port = integerElement(element);
            if (!port) {
                allIntegers = false;
                break;
            }
            ports.append(*port);
        }
        if (allIntegers)
            setExcludedPorts(ports);
    }

    if (const double interval = store.doubleValue(QStringLiteral("scanInterval")); interval != 0.0)
        setScanInterval(interval);

    setLaunchAtLogin(store.boolean(QStringLiteral("launchAtLogin")));
    setShowInDock(store.boolean(QStringLiteral("showInDock")));
    setNotifyOnNewPort(store.boolean(QStringLiteral("notifyOnNewPort")));

    if (auto data = store.data(QStringLiteral("hotkey"))) {
        if (auto combo = KeyCombo::fromJson(*data))
            setHotkey(*combo);
    }

    if (const qint64 days = store.integer(QStringLiteral("historyRetentionDays")); days != 0)
        setHistoryRetentionDays(clampToInt(days));

    if (store.contains(QStringLiteral("tunnelDetectionEnabled")))
        setTunnelDetectionEnabled(store.boolean(QStringLiteral("tunnelDetectionEnabled")));
    if (store.contains(QStringLiteral("dockerDetectionEnabled")))
        setDockerDetectionEnabled(store.boolean(QStringLiteral("dockerDetectionEnabled")));

    setNgrokAPIPort(clampToInt(store.integer(QStringLiteral("ngrokAPIPort"))));

    if (store.contains(QStringLiteral("hasShownLoginPrompt")))
        setHasShownLoginPrompt(store.boolean(QStringLiteral("hasShownLoginPrompt")));
    if (store.contains(QStringLiteral("hasShownUpdatePrompt")))
        setHasShownUpdatePrompt(store.boolean(QStringLiteral("hasShownUpdatePrompt")));
}

void AppSettings::resetToDefaults()
{
    setMonitoredRange(QString::fromLatin1(defaultMonitoredRange));
    setExcludedPorts(defaultExcludedPorts);
    setScanInterval(defaultScanInterval);
    setLaunchAtLogin(false);
    setShowInDock(false);
    setNotifyOnNewPort(false);
    setHotkey(KeyCombo{});
    setHistoryRetentionDays(defaultHistoryRetentionDays);
    setTunnelDetectionEnabled(true);
    setDockerDetectionEnabled(true);
    setNgrokAPIPort(0);
    setHasShownLoginPrompt(false);
    setHasShownUpdatePrompt(false);
    save();
}

} // namespace varlo
