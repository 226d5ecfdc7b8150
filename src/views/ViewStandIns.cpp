// Minimal stand-ins for the panel content and the settings window, so the
// application shell builds and runs before the real views arrive.
#include "views/MenuBarPanelContent.h"
#include "views/SettingsWindow.h"

#include <QHash>
#include <QLabel>
#include <QShortcut>
#include <QVBoxLayout>

namespace varlo {

MenuBarPanelContent::MenuBarPanelContent(PortMonitor& /*monitor*/, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Varlo"), this);
    label->setFixedSize(360, 240);
    label->setAlignment(Qt::AlignCenter);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &MenuBarPanelContent::closeRequested);
}

MenuBarPanelContent::~MenuBarPanelContent() = default;

namespace {
QHash<const SettingsWindow*, QPointer<QWidget>>& openWindows()
{
    static QHash<const SettingsWindow*, QPointer<QWidget>> windows;
    return windows;
}
} // namespace

SettingsWindow::SettingsWindow(SettingsContext /*context*/, QObject* parent) : QObject(parent) {}

SettingsWindow::~SettingsWindow()
{
    delete openWindows().take(this).data();
}

void SettingsWindow::show()
{
    QPointer<QWidget>& slot = openWindows()[this];
    if (!slot) {
        slot = new QWidget;
        slot->setAttribute(Qt::WA_DeleteOnClose);
        slot->setWindowTitle(QStringLiteral("Varlo Settings"));
        slot->resize(480, 320);
        Q_EMIT windowCreated(slot);
    }
    slot->show();
    slot->raise();
    slot->activateWindow();
}

QWidget* SettingsWindow::window() const
{
    return openWindows().value(this);
}

} // namespace varlo
