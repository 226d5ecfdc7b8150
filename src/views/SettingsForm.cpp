#include "views/SettingsForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QVBoxLayout>

namespace varlo {

using namespace style;

SettingsForm::SettingsForm(QWidget* parent) : QWidget(parent), m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(20, 12, 20, 16);
    m_layout->setSpacing(6);
}

QVBoxLayout* SettingsForm::addSection(const QString& header, const QString& footer)
{
    if (m_layout->count() > 0)
        m_layout->addSpacing(6);
    if (!header.isEmpty())
        m_layout->addWidget(inkedLabel(header, TextStyle::Headline, Ink::label(Label::Primary)));
    auto* group = new FormGroup;
    auto* rows = new QVBoxLayout(group);
    rows->setContentsMargins(12, 8, 12, 8);
    rows->setSpacing(8);
    m_layout->addWidget(group);
    if (!footer.isEmpty()) {
        QLabel* note = inkedLabel(footer, TextStyle::Caption, Ink::label(Label::Secondary));
        note->setWordWrap(true);
        m_layout->addWidget(note);
    }
    return rows;
}

void SettingsForm::finish()
{
    m_layout->addStretch();
}

void SettingsForm::mousePressEvent(QMouseEvent* event)
{
    if (QWidget* focused = QApplication::focusWidget(); focused && isAncestorOf(focused))
        focused->clearFocus();
    QWidget::mousePressEvent(event);
}

FormGroup::FormGroup(QWidget* parent) : QFrame(parent)
{
    setAttribute(Qt::WA_StyledBackground, false);
}

void FormGroup::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colours = palette();
    const QColor text = colours.color(QPalette::WindowText);
    // A tint of the text colour reads as raised on light and dark windows alike.
    painter.setPen(QPen(withOpacity(text, 0.12), 1));
    painter.setBrush(withOpacity(text, isDark(colours) ? 0.06 : 0.03));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

SymbolLabel::SymbolLabel(Symbol symbol, const Ink& symbolInk, const QString& text, const Ink& textInk,
                         QWidget* parent)
    : QWidget(parent), m_text(inkedLabel(text, TextStyle::Caption, textInk))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto* icon = new QLabel;
    const int edge = symbolSize(style::font(TextStyle::Caption));
    icon->setPixmap(symbolIcon(symbol, symbolInk).pixmap(QSize(edge, edge), devicePixelRatioF()));
    row->addWidget(icon);
    m_text->setWordWrap(true);
    row->addWidget(m_text, 1);
}

QString SymbolLabel::text() const
{
    return m_text->text();
}

void SymbolLabel::setText(const QString& text)
{
    m_text->setText(text);
}

QCheckBox* addToggle(QVBoxLayout* rows, const QString& title, const QString& caption)
{
    auto* block = new QVBoxLayout;
    block->setSpacing(2);
    auto* box = new QCheckBox(title);
    block->addWidget(box);
    QLabel* note = inkedLabel(caption, TextStyle::Caption, Ink::label(Label::Secondary));
    note->setWordWrap(true);
    // Under the title, past the check mark.
    const int indent = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box)
                       + box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
    note->setContentsMargins(indent, 0, 0, 0);
    block->addWidget(note);
    rows->addLayout(block);
    return box;
}

QWidget* twoLineLabel(const QString& title, const QString& caption)
{
    auto* label = new QWidget;
    auto* lines = new QVBoxLayout(label);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(2);
    lines->addWidget(inkedLabel(title, TextStyle::Body, Ink::label(Label::Primary)));
    lines->addWidget(inkedLabel(caption, TextStyle::Caption, Ink::label(Label::Secondary)));
    return label;
}

QLabel* inkedLabel(const QString& text, TextStyle textStyle, const Ink& ink)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font(textStyle));
    setTextInk(label, ink);
    return label;
}

} // namespace varlo
