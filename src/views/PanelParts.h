#pragma once

#include "views/Style.h"

#include <QLabel>
#include <QString>
#include <QTimer>
#include <QWidget>

class QVariantAnimation;

namespace varlo {

// The panel's rows share these: the inset from the panel's sides, and the port
// column's width, where row dividers start.
constexpr int panelSidePadding = 12;
constexpr int portColumnWidth = 68;

// One line of plain text, elided to the width it gets. Line breaks and
// control characters show as spaces, so text from other programs can never
// turn into markup or extra lines.
class ElidedLabel : public QWidget
{
    Q_OBJECT

public:
    explicit ElidedLabel(Qt::TextElideMode mode = Qt::ElideRight, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return m_text; }
    // What is painted at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // `text` on one line: every control character, line or paragraph separator becomes a space.
    static QString oneLine(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_text;
    Qt::TextElideMode m_mode;
};

// An indeterminate progress indicator: a turning arc, animated only while shown.
class Spinner : public QWidget
{
    Q_OBJECT

public:
    explicit Spinner(int size, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer m_timer;
    int m_angle = 0;
};

// A one-pixel separator line, starting `indent` pixels from the leading edge.
class Divider : public QWidget
{
    Q_OBJECT

public:
    explicit Divider(int indent = 0, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_indent;
};

// A filled circle in an ink.
class Dot : public QWidget
{
    Q_OBJECT

public:
    Dot(int size, const style::Ink& ink, QWidget* parent = nullptr);
    void setInk(const style::Ink& ink);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    style::Ink m_ink;
};

// A short label on a capsule filled with `fill`.
class CapsuleLabel : public QLabel
{
    Q_OBJECT

public:
    CapsuleLabel(const style::Ink& fill, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    style::Ink m_fill;
};

// The expand chevron: dim and pointing down when collapsed, turned half a
// turn and stronger when expanded; the turn is animated.
class ChevronView : public QWidget
{
    Q_OBJECT

public:
    explicit ChevronView(QWidget* parent = nullptr);
    void setExpanded(bool expanded);
    bool isExpanded() const { return m_expanded; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_expanded = false;
    qreal m_angle = 0;
    QVariantAnimation* m_turn;
};

// A plain-text label in `font` and `ink`.
QLabel* plainLabel(const QString& text, const QFont& font, const style::Ink& ink, QWidget* parent);
// A one-line label in `font` and `ink`, elided by `mode`.
ElidedLabel* elidedLabel(Qt::TextElideMode mode, const QFont& font, const style::Ink& ink, QWidget* parent);

// The colour of separators, on `palette`.
QColor separatorColor(const QPalette& palette);

} // namespace varlo
