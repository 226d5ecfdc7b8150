#include "app/Alerts.h"

#include <QMessageBox>
#include <QPushButton>

namespace varlo {

namespace {

void prepare(QMessageBox& box, const AlertText& text)
{
    box.setWindowTitle(QStringLiteral("Varlo"));
    box.setTextFormat(Qt::PlainText);
    box.setText(text.message);
    box.setInformativeText(text.informative);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
}

} // namespace

int MessageBoxAlerts::ask(const AlertText& text, const QStringList& buttons)
{
    QMessageBox box;
    prepare(box, text);
    QList<QAbstractButton*> added;
    for (const QString& label : buttons)
        added.append(box.addButton(label, added.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    if (auto* first = qobject_cast<QPushButton*>(added.value(0)))
        box.setDefaultButton(first);
    box.raise();
    box.activateWindow();
    box.exec();
    const auto chosen = added.indexOf(box.clickedButton());
    // Closing the box answers like the last button ("Not Now").
    return chosen < 0 ? static_cast<int>(buttons.size()) - 1 : static_cast<int>(chosen);
}

void MessageBoxAlerts::inform(const AlertText& text)
{
    QMessageBox box;
    prepare(box, text);
    box.setIcon(QMessageBox::Warning);
    box.setStandardButtons(QMessageBox::Ok);
    box.raise();
    box.activateWindow();
    box.exec();
}

} // namespace varlo
