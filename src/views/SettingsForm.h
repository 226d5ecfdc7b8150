#pragma once

// Building blocks of the settings tabs' grouped forms.

#include "views/Style.h"

#include <QFrame>
#include <QWidget>

class QCheckBox;
class QLabel;
class QVBoxLayout;

namespace varlo {

// A form whose background takes clicks: one ends the editing of whichever field has focus.
class SettingsForm : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsForm(QWidget* parent = nullptr);

    // A section: the header (if any) above a rounded group whose rows go into the returned layout,
    // and an optional footer below it.
    QVBoxLayout* addSection(const QString& header, const QString& footer = {});
    // Ends the section list; the form keeps its natural height.
    void finish();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QVBoxLayout* m_layout;
};

// The rounded, slightly raised background of one section's rows.
class FormGroup : public QFrame
{
    Q_OBJECT
public:
    explicit FormGroup(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A caption-sized text in `ink` after a symbol in the same ink: the warnings under a control.
class SymbolLabel : public QWidget
{
    Q_OBJECT
public:
    SymbolLabel(style::Symbol symbol, const style::Ink& symbolInk, const QString& text,
                const style::Ink& textInk, QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);

private:
    QLabel* m_text;
};

// A toggle titled `title` with `caption` under it in the secondary colour.
QCheckBox* addToggle(QVBoxLayout* rows, const QString& title, const QString& caption);
// The two-line label of a row whose control sits on the right.
QWidget* twoLineLabel(const QString& title, const QString& caption);
// A plain-text label in `textStyle` and `ink`.
QLabel* inkedLabel(const QString& text, style::TextStyle textStyle, const style::Ink& ink);

} // namespace varlo
