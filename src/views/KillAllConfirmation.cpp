#include "views/KillAllConfirmation.h"

#include "views/PortRowTexts.h"
#include "views/Style.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace varlo {

using namespace style;

KillAllConfirmation::KillAllConfirmation(QWidget* parent) : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 12, 16, 12);
    column->setSpacing(6);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("killAllTitle"));
    m_title->setTextFormat(Qt::PlainText);
    m_title->setFont(style::font(TextStyle::Headline));
    column->addWidget(m_title);
    auto* message = new QLabel(tr("This will send SIGTERM to every process currently shown in the list."), this);
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setFont(style::font(TextStyle::Caption));
    setTextInk(message, Ink::label(Label::Secondary));
    column->addWidget(message);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelKillAll"));
    m_killAll = new QPushButton(tr("Kill All"), this);
    m_killAll->setObjectName(QStringLiteral("confirmKillAll"));
    setTextInk(m_killAll, Ink::tint(Tint::Red));
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_killAll);
    column->addLayout(buttons);
    setTabOrder(m_cancel, m_killAll);

    connect(m_cancel, &QPushButton::clicked, this, &KillAllConfirmation::cancelled);
    connect(m_killAll, &QPushButton::clicked, this, &KillAllConfirmation::confirmed);
    setCount(0);
}

void KillAllConfirmation::setCount(qsizetype groups)
{
    m_title->setText(rowtext::killAllTitle(groups));
}

QString KillAllConfirmation::title() const
{
    return m_title->text();
}

void KillAllConfirmation::ask()
{
    show();
    m_cancel->setFocus(Qt::OtherFocusReason);
}

void KillAllConfirmation::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Ink::tint(Tint::Red).withOpacity(0.08).resolve(palette()));
    painter.fillRect(QRect(0, 0, width(), 1), withOpacity(palette().color(QPalette::WindowText), 0.12));
}

void KillAllConfirmation::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        Q_EMIT cancelled();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace varlo
