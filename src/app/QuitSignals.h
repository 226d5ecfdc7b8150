#pragma once

#include <QObject>

class QSocketNotifier;

namespace varlo {

// Turns SIGTERM, SIGINT and SIGHUP into an ordinary end of the event loop, so
// everything pending is written as on Quit.
class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    bool isInstalled() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void quitRequested(int signal);

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace varlo
