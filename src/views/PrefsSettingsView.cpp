#include "views/PrefsSettingsView.h"

#include "services/LoginItem.h"
#include "services/PortNotifier.h"
#include "services/UpdateResultDialog.h"
#include "services/UpdaterController.h"
#include "services/hotkey/HotkeyRegistrar.h"
#include "services/hotkey/KeyRecorderButton.h"
#include "services/hotkey/KeyRecorderView.h"
#include "settings/AppSettings.h"
#include "views/SettingsForm.h"
#include "views/Style.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>

namespace varlo {

using namespace style;

namespace {

QHBoxLayout* row(QVBoxLayout* rows)
{
    auto* line = new QHBoxLayout;
    line->setSpacing(8);
    rows->addLayout(line);
    return line;
}

// Shows a Boolean setting in `box` and writes the user's clicks to it.
void bindToggle(QCheckBox* box, AppSettings& settings, bool (AppSettings::*read)() const,
                void (AppSettings::*write)(bool), void (AppSettings::*changed)())
{
    box->setChecked((settings.*read)());
    QObject::connect(box, &QCheckBox::clicked, &settings, write);
    QObject::connect(&settings, changed, box, [box, &settings, read] { box->setChecked((settings.*read)()); });
}

} // namespace

const QList<PrefsSettingsView::IntervalChoice>& PrefsSettingsView::intervalChoices()
{
    static const QList<IntervalChoice> choices{
        {QT_TR_NOOP("1 second"), 1.0},   {QT_TR_NOOP("2 seconds"), 2.0},   {QT_TR_NOOP("4 seconds"), 4.0},
        {QT_TR_NOOP("5 seconds"), 5.0}, {QT_TR_NOOP("10 seconds"), 10.0},
    };
    return choices;
}

PrefsSettingsView::PrefsSettingsView(const SettingsContext& context, QWidget* parent)
    : QWidget(parent), m_settings(*context.settings), m_context(context)
{
    auto* form = new SettingsForm;
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(form);

    if (m_context.loginItem) {
        QVBoxLayout* startup = form->addSection(tr("Startup"));
        m_launchAtLogin = addToggle(startup, tr("Launch at Login"), tr("Start Varlo automatically when you log in."));
        m_launchAtLogin->setObjectName(QStringLiteral("launchAtLogin"));
        m_loginItemError = new SymbolLabel(Symbol::ExclamationmarkTriangleFill, Ink::tint(Tint::Red), QString(),
                                           Ink::tint(Tint::Red));
        m_loginItemError->setObjectName(QStringLiteral("loginItemError"));
        m_loginItemError->hide();
        startup->addWidget(m_loginItemError);
        connect(m_launchAtLogin, &QCheckBox::clicked, this, &PrefsSettingsView::changeLoginItem);
        showLoginItem();
    }

    if (UpdaterController* updater = m_context.updater; updater && updater->isAvailable()) {
        QVBoxLayout* updates = form->addSection(tr("Updates"));
        QCheckBox* automatic = addToggle(updates, tr("Check for updates automatically"),
                                         tr("Varlo looks for new versions on its update server in the background."));
        automatic->setObjectName(QStringLiteral("automaticUpdates"));
        automatic->setChecked(updater->automaticallyChecksForUpdates());
        connect(automatic, &QCheckBox::clicked, updater, &UpdaterController::setAutomaticallyChecksForUpdates);
        connect(updater, &UpdaterController::automaticallyChecksForUpdatesChanged, automatic,
                [automatic, updater] { automatic->setChecked(updater->automaticallyChecksForUpdates()); });
        auto* checkNow = new QPushButton(tr("Check Now"));
        checkNow->setObjectName(QStringLiteral("checkNow"));
        checkNow->setAutoDefault(false);
        updates->addWidget(checkNow, 0, Qt::AlignLeft);
        connect(checkNow, &QPushButton::clicked, this,
                [this, updater] { UpdateResultDialog::checkNow(*updater, window()); });
    }

    QHBoxLayout* interval = row(form->addSection(tr("Scanning")));
    interval->addWidget(inkedLabel(tr("Scan interval"), TextStyle::Body, Ink::label(Label::Primary)));
    interval->addStretch();
    m_scanInterval = new QComboBox;
    m_scanInterval->setObjectName(QStringLiteral("scanInterval"));
    for (const IntervalChoice& choice : intervalChoices())
        m_scanInterval->addItem(tr(choice.title), choice.seconds);
    interval->addWidget(m_scanInterval);
    connect(m_scanInterval, &QComboBox::activated, this,
            [this](int index) { m_settings.setScanInterval(intervalChoices().at(index).seconds); });
    connect(&m_settings, &AppSettings::scanIntervalChanged, this, &PrefsSettingsView::showScanInterval);
    showScanInterval();

    QVBoxLayout* notifications = form->addSection(tr("Notifications"));
    m_notify = addToggle(notifications, tr("Notify on new port"),
                         tr("Show a notification when a new port appears in the monitored range."));
    m_notify->setObjectName(QStringLiteral("notifyOnNewPort"));
    m_notify->setChecked(m_settings.notifyOnNewPort());
    connect(m_notify, &QCheckBox::clicked, this, &PrefsSettingsView::changeNotify);
    connect(&m_settings, &AppSettings::notifyOnNewPortChanged, m_notify, [this] {
        m_notify->setChecked(m_settings.notifyOnNewPort());
        if (!m_settings.notifyOnNewPort())
            setNotifyDenied(false);
    });
    m_notifyDeniedRow = new QWidget;
    m_notifyDeniedRow->setObjectName(QStringLiteral("notifyDenied"));
    auto* denied = new QHBoxLayout(m_notifyDeniedRow);
    denied->setContentsMargins(0, 0, 0, 0);
    denied->setSpacing(6);
    denied->addWidget(new SymbolLabel(Symbol::BellSlashFill, Ink::tint(Tint::Orange),
                                      tr("Notifications are disabled for Varlo."), Ink::label(Label::Secondary)));
    if (m_desktopSettings.canOpen(DesktopSettings::Page::notifications)) {
        auto* open = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(tr("Open Settings").toHtmlEscaped()));
        open->setFont(style::font(TextStyle::Caption));
        connect(open, &QLabel::linkActivated, this,
                [this] { m_desktopSettings.open(DesktopSettings::Page::notifications); });
        denied->addWidget(open);
    }
    denied->addStretch();
    m_notifyDeniedRow->hide();
    notifications->addWidget(m_notifyDeniedRow);

    QHBoxLayout* shortcut = row(form->addSection(tr("Shortcut")));
    shortcut->addWidget(twoLineLabel(tr("Toggle Varlo"), tr("Opens or closes Varlo from any app.")), 1);
    m_recorder = new KeyRecorderView;
    m_recorder->setObjectName(QStringLiteral("hotkey"));
    m_recorder->setFixedWidth(140);
    shortcut->addWidget(m_recorder);
    m_clearShortcut = symbolButton(Symbol::XmarkCircleFill, tr("Clear shortcut"), Ink::label(Label::Secondary));
    m_clearShortcut->setObjectName(QStringLiteral("clearHotkey"));
    // Keeps the recorder in place while the button comes and goes.
    QSizePolicy keepSpace = m_clearShortcut->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    m_clearShortcut->setSizePolicy(keepSpace);
    shortcut->addWidget(m_clearShortcut);
    connect(m_recorder, &KeyRecorderView::comboRecorded, this, &PrefsSettingsView::recordShortcut);
    connect(m_clearShortcut, &QToolButton::clicked, this, &PrefsSettingsView::clearShortcut);
    connect(&m_settings, &AppSettings::hotkeyChanged, this, &PrefsSettingsView::showShortcut);
    showShortcut();

    QVBoxLayout* tunnels = form->addSection(tr("Tunnels"));
    QCheckBox* detectTunnels =
        addToggle(tunnels, tr("Detect tunnels"), tr("Show public ngrok & Cloudflare URLs on port rows."));
    detectTunnels->setObjectName(QStringLiteral("tunnelDetectionEnabled"));
    m_ngrokRow = new QWidget;
    auto* ngrok = new QHBoxLayout(m_ngrokRow);
    ngrok->setContentsMargins(0, 0, 0, 0);
    ngrok->addWidget(twoLineLabel(tr("ngrok API port"), tr("Leave 0 to auto-detect from ngrok config.")), 1);
    m_ngrokPort = new QLineEdit;
    m_ngrokPort->setObjectName(QStringLiteral("ngrokAPIPort"));
    m_ngrokPort->setPlaceholderText(QStringLiteral("0"));
    m_ngrokPort->setAccessibleName(tr("ngrok API port"));
    m_ngrokPort->setFixedWidth(60);
    ngrok->addWidget(m_ngrokPort);
    tunnels->addWidget(m_ngrokRow);
    bindToggle(detectTunnels, m_settings, &AppSettings::tunnelDetectionEnabled,
               &AppSettings::setTunnelDetectionEnabled, &AppSettings::tunnelDetectionEnabledChanged);
    const auto showTunnels = [this] { m_ngrokRow->setVisible(m_settings.tunnelDetectionEnabled()); };
    connect(&m_settings, &AppSettings::tunnelDetectionEnabledChanged, this, showTunnels);
    connect(m_ngrokPort, &QLineEdit::editingFinished, this, &PrefsSettingsView::commitNgrokPort);
    connect(&m_settings, &AppSettings::ngrokAPIPortChanged, this, &PrefsSettingsView::showNgrokPort);
    showTunnels();
    showNgrokPort();

    QCheckBox* docker = addToggle(form->addSection(tr("Docker")), tr("Detect Docker containers"),
                                  tr("Show container name and image on port rows owned by docker-proxy."));
    docker->setObjectName(QStringLiteral("dockerDetectionEnabled"));
    bindToggle(docker, m_settings, &AppSettings::dockerDetectionEnabled, &AppSettings::setDockerDetectionEnabled,
               &AppSettings::dockerDetectionEnabledChanged);

    // The shell applies the taskbar hint when the setting changes.
    QCheckBox* dock = addToggle(form->addSection(tr("Appearance")), tr("Show in Dock"),
                                tr("Adds a Dock icon alongside the menu bar item."));
    dock->setObjectName(QStringLiteral("showInDock"));
    bindToggle(dock, m_settings, &AppSettings::showInDock, &AppSettings::setShowInDock,
               &AppSettings::showInDockChanged);
    form->finish();
}

void PrefsSettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The desktop may have changed both behind our back since the tab was last shown.
    showLoginItem();
    checkNotifications();
}

void PrefsSettingsView::changeLoginItem(bool enabled)
{
    const LoginItem::Result result = m_context.loginItem->setEnabled(enabled);
    if (result.ok) {
        m_settings.setLaunchAtLogin(enabled);
        m_loginItemError->hide();
    } else {
        m_loginItemError->setText(result.error);
        m_loginItemError->show();
    }
    showLoginItem();
}

void PrefsSettingsView::showLoginItem()
{
    if (m_launchAtLogin)
        m_launchAtLogin->setChecked(m_context.loginItem->isEnabled());
}

void PrefsSettingsView::changeNotify(bool enabled)
{
    m_settings.setNotifyOnNewPort(enabled);
    if (!enabled || !m_context.notifier) {
        setNotifyDenied(false);
        return;
    }
    QPointer<PrefsSettingsView> self(this);
    m_context.notifier->ensureAuthorization([self](bool granted) {
        // An answer that arrives after the user turned notifications off again is moot.
        if (self && self->m_settings.notifyOnNewPort())
            self->setNotifyDenied(!granted);
    });
}

void PrefsSettingsView::checkNotifications()
{
    if (!m_context.notifier || !m_settings.notifyOnNewPort())
        return;
    QPointer<PrefsSettingsView> self(this);
    m_context.notifier->checkDenied([self](bool denied) {
        if (self && self->m_settings.notifyOnNewPort())
            self->setNotifyDenied(denied);
    });
}

void PrefsSettingsView::setNotifyDenied(bool denied)
{
    m_notifyDenied = denied;
    m_notifyDeniedRow->setVisible(denied);
}

void PrefsSettingsView::recordShortcut(const KeyCombo& combo)
{
    m_settings.setHotkey(combo);
    HotkeyRegistrar* registrar = m_context.hotkeyRegistrar;
    if (!registrar)
        return;
    if (combo.isEmpty()) {
        registrar->unregister();
        return;
    }
    registrar->registerHotkey(combo, [handler = m_context.hotkeyHandler] {
        if (handler)
            handler();
    });
}

void PrefsSettingsView::clearShortcut()
{
    m_settings.setHotkey(KeyCombo{});
    if (m_context.hotkeyRegistrar)
        m_context.hotkeyRegistrar->unregister();
}

void PrefsSettingsView::showShortcut()
{
    m_recorder->setCombo(m_settings.hotkey());
    m_clearShortcut->setVisible(!m_settings.hotkey().isEmpty());
}

void PrefsSettingsView::commitNgrokPort()
{
    bool ok = false;
    const int port = QLocale().toInt(m_ngrokPort->text(), &ok);
    // Only a port number is a usable address for ngrok's API; anything else keeps the stored one.
    if (ok && port >= 0 && port <= 65535 && port != m_settings.ngrokAPIPort())
        m_settings.setNgrokAPIPort(port);
    showNgrokPort();
}

void PrefsSettingsView::showNgrokPort()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    m_ngrokPort->setText(locale.toString(m_settings.ngrokAPIPort()));
}

void PrefsSettingsView::showScanInterval()
{
    const double seconds = m_settings.scanInterval();
    int index = -1;
    for (int i = 0; i < intervalChoices().size(); ++i)
        if (intervalChoices().at(i).seconds == seconds)
            index = i;
    m_scanInterval->setCurrentIndex(index);
}

} // namespace varlo
