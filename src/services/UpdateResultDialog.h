#pragma once

#include "services/UpdateChecker.h"

#include <QDialog>
#include <QUrl>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace varlo {

class UpdaterController;

// The small window of a manual update check: "checking", then up to date, a new
// version with a button that opens its page, or the reason the check failed.
class UpdateResultDialog : public QDialog
{
    Q_OBJECT
public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    // `openUrl` defaults to the desktop's browser.
    explicit UpdateResultDialog(QString currentVersion, QWidget* parent = nullptr, UrlOpener openUrl = {});

    void showChecking();
    void showResult(const UpdateCheckResult& result);

    // Opens a dialog (deleted when closed) that runs a manual check and shows its outcome.
    static UpdateResultDialog* checkNow(UpdaterController& controller, QWidget* parent = nullptr);
    // Opens a dialog (deleted when closed) for a release an automatic check found.
    static UpdateResultDialog* present(const UpdateCheckResult& result, const QString& currentVersion,
                                       QWidget* parent = nullptr);

    QString heading() const;
    QString message() const;
    QPushButton* openButton() const { return m_openButton; }

private:
    void openPage();

    QString m_currentVersion;
    UrlOpener m_openUrl;
    QUrl m_pageUrl;
    QLabel* m_heading = nullptr;
    QLabel* m_message = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_openButton = nullptr;
    QPushButton* m_closeButton = nullptr;
};

} // namespace varlo
