#pragma once

#include <QString>
#include <QStringList>

namespace varlo {

struct AlertText
{
    QString message;
    QString informative;
};

// Modal questions and notices; tests answer them from a script.
class Alerts
{
public:
    virtual ~Alerts() = default;
    // Index of the chosen button; the first is the default.
    virtual int ask(const AlertText& text, const QStringList& buttons) = 0;
    virtual void inform(const AlertText& text) = 0;
};

// QMessageBox, brought to the front.
class MessageBoxAlerts : public Alerts
{
public:
    int ask(const AlertText& text, const QStringList& buttons) override;
    void inform(const AlertText& text) override;
};

} // namespace varlo
