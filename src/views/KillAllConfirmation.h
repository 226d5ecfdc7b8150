#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace varlo {

// The Kill All question, drawn inside the panel: a separate dialog window
// would take the focus and close the panel under it.
class KillAllConfirmation : public QWidget
{
    Q_OBJECT

public:
    explicit KillAllConfirmation(QWidget* parent = nullptr);

    // The number of rows Kill All acts on, for the title.
    void setCount(qsizetype groups);
    QString title() const;
    // Shows it and puts the focus on Cancel, the harmless choice.
    void ask();

Q_SIGNALS:
    void confirmed();
    void cancelled();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* m_title;
    QPushButton* m_cancel;
    QPushButton* m_killAll;
};

} // namespace varlo
