#include "views/PortListView.h"

#include <QEvent>
#include <QScreen>
#include <QSet>
#include <QVBoxLayout>

namespace varlo {

PortListView::PortListView(QWidget* parent)
    : QScrollArea(parent), m_content(new QWidget), m_rowsLayout(new QVBoxLayout),
      m_history(new HistorySection(m_content))
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(true);
    viewport()->setAutoFillBackground(false);
    m_content->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(m_content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_rowsLayout->setSpacing(0);
    column->addLayout(m_rowsLayout);
    column->addWidget(m_history);
    column->addStretch();
    m_history->hide();
    setWidget(m_content);
    m_content->installEventFilter(this);
    updateHeight();
}

PortRowView* PortListView::makeRow(const QString& key)
{
    auto* row = new PortRowView(m_content);
    row->setObjectName(key);
    connect(row, &PortRowView::toggleExpandRequested, this,
            [this, row] { Q_EMIT toggleExpandRequested(row->state().group); });
    connect(row, &PortRowView::killRequested, this, [this, row] { Q_EMIT killRequested(row->state().group); });
    return row;
}

void PortListView::setRows(const QList<Row>& rows)
{
    QList<QString> order;
    order.reserve(rows.size());
    for (const Row& wanted : rows) {
        PortRowView*& row = m_rows[wanted.key];
        if (!row)
            row = makeRow(wanted.key);
        row->setState(wanted.state);
        order.append(wanted.key);
    }
    if (order == m_order)
        return;

    const QSet<QString> kept(order.cbegin(), order.cend());
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (!kept.contains(it.key())) {
            // A row may be gone while the pointer is over it or its button has focus.
            (*it)->hide();
            (*it)->deleteLater();
            it = m_rows.erase(it);
        } else {
            ++it;
        }
    }
    for (qsizetype i = 0; i < order.size(); ++i) {
        PortRowView* row = m_rows.value(order.at(i));
        if (m_rowsLayout->indexOf(row) != i) {
            m_rowsLayout->removeWidget(row);
            m_rowsLayout->insertWidget(int(i), row);
            row->show();
        }
    }
    m_order = order;
    updateDividers();
}

void PortListView::setHistory(bool shown, const QList<PortHistoryRowTexts>& entries)
{
    m_history->setEntries(entries);
    if (shown != m_historyShown) {
        m_historyShown = shown;
        m_history->setVisible(shown);
    }
    updateDividers();
}

void PortListView::updateDividers()
{
    const bool dividerAfterLast = m_historyShown && !m_history->rows().isEmpty();
    for (qsizetype i = 0; i < m_order.size(); ++i)
        m_rows.value(m_order.at(i))->setDividerVisible(i + 1 < m_order.size() || dividerAfterLast);
}

QList<PortRowView*> PortListView::rows() const
{
    QList<PortRowView*> rows;
    for (const QString& key : m_order)
        rows.append(m_rows.value(key));
    return rows;
}

void PortListView::setScreenHeight(int height)
{
    m_screenHeight = height;
    updateHeight();
}

int PortListView::heightCap() const
{
    if (m_screenHeight > 0)
        return m_screenHeight / 2;
    const QScreen* screen = this->screen();
    return screen ? screen->availableGeometry().height() / 2 : capWithoutScreen;
}

void PortListView::updateHeight()
{
    const int width = maximumViewportSize().width();
    const int wanted = m_content->hasHeightForWidth() ? m_content->heightForWidth(width)
                                                      : m_content->sizeHint().height();
    const int height = std::min(std::max(wanted, 0), heightCap());
    if (height != this->height() || minimumHeight() != height || maximumHeight() != height)
        setFixedHeight(height);
}

bool PortListView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_content && event->type() == QEvent::LayoutRequest)
        updateHeight();
    return QScrollArea::eventFilter(watched, event);
}

} // namespace varlo
