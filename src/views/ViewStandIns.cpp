// A minimal stand-in for the panel content until the real one is merged.
#include "views/MenuBarPanelContent.h"

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

} // namespace varlo
