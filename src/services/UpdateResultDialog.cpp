#include "services/UpdateResultDialog.h"

#include "services/UpdaterController.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace varlo {

namespace {

QCoro::Task<void> runManualCheck(QPointer<UpdateResultDialog> dialog, UpdaterController& controller)
{
    const UpdateCheckResult result = co_await controller.checkForUpdates();
    if (dialog)
        dialog->showResult(result);
}

} // namespace

UpdateResultDialog::UpdateResultDialog(QString currentVersion, QWidget* parent, UrlOpener openUrl)
    : QDialog(parent), m_currentVersion(std::move(currentVersion)), m_openUrl(std::move(openUrl))
{
    if (!m_openUrl)
        m_openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    setWindowTitle(tr("Software Update"));
    setMinimumWidth(360);

    // Feed text goes into these labels: never let it be read as rich text.
    m_heading = new QLabel(this);
    m_heading->setTextFormat(Qt::PlainText);
    QFont headingFont = m_heading->font();
    headingFont.setBold(true);
    m_heading->setFont(headingFont);
    m_message = new QLabel(this);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);

    auto* buttons = new QDialogButtonBox(this);
    m_openButton = buttons->addButton(tr("Open Download Page"), QDialogButtonBox::AcceptRole);
    m_closeButton = buttons->addButton(QDialogButtonBox::Close);
    connect(m_openButton, &QPushButton::clicked, this, &UpdateResultDialog::openPage);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(m_message);
    layout->addWidget(m_progress);
    layout->addStretch();
    layout->addWidget(buttons);

    showChecking();
}

QString UpdateResultDialog::heading() const
{
    return m_heading->text();
}

QString UpdateResultDialog::message() const
{
    return m_message->text();
}

void UpdateResultDialog::showChecking()
{
    m_pageUrl.clear();
    m_heading->setText(tr("Checking for updates…"));
    m_message->clear();
    m_message->hide();
    m_progress->show();
    m_openButton->hide();
    m_closeButton->setDefault(true);
}

void UpdateResultDialog::showResult(const UpdateCheckResult& result)
{
    m_progress->hide();
    m_message->show();
    m_pageUrl.clear();
    m_openButton->hide();
    bool canOpen = false;
    switch (result.outcome) {
    case UpdateCheckResult::Outcome::UpToDate:
        m_heading->setText(tr("You're up to date!"));
        m_message->setText(tr("Varlo %1 is the newest version available.").arg(m_currentVersion));
        break;
    case UpdateCheckResult::Outcome::UpdateAvailable:
        m_heading->setText(tr("A new version of Varlo is available!"));
        m_message->setText(
            tr("Varlo %1 is now available — you have %2.").arg(result.displayVersion, m_currentVersion));
        m_pageUrl = result.pageUrl;
        canOpen = m_pageUrl.isValid() && !m_pageUrl.isEmpty();
        break;
    case UpdateCheckResult::Outcome::Failed:
        m_heading->setText(tr("Couldn't check for updates"));
        m_message->setText(result.error);
        break;
    }
    m_openButton->setVisible(canOpen);
    (canOpen ? m_openButton : m_closeButton)->setDefault(true);
}

void UpdateResultDialog::openPage()
{
    if (!m_pageUrl.isEmpty())
        m_openUrl(m_pageUrl);
    accept();
}

UpdateResultDialog* UpdateResultDialog::checkNow(UpdaterController& controller, QWidget* parent)
{
    auto* dialog = new UpdateResultDialog(controller.currentVersion(), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    runManualCheck(dialog, controller);
    return dialog;
}

UpdateResultDialog* UpdateResultDialog::present(const UpdateCheckResult& result,
                                                const QString& currentVersion, QWidget* parent)
{
    auto* dialog = new UpdateResultDialog(currentVersion, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->showResult(result);
    dialog->show();
    return dialog;
}

} // namespace varlo
