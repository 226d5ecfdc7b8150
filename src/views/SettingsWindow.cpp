#include "views/SettingsWindow.h"

#include "views/SettingsView.h"

namespace varlo {

SettingsWindow::SettingsWindow(SettingsContext context, QObject* parent)
    : QObject(parent), m_context(std::move(context))
{
}

SettingsWindow::~SettingsWindow()
{
    delete m_window.data();
}

void SettingsWindow::show()
{
    if (!m_window) {
        auto* view = new SettingsView(m_context);
        view->setAttribute(Qt::WA_DeleteOnClose);
        view->setWindowTitle(tr("Varlo Settings"));
        m_window = view;
        Q_EMIT windowCreated(view);
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

QWidget* SettingsWindow::window() const
{
    return m_window.data();
}

} // namespace varlo
