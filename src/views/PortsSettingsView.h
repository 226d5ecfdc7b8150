#pragma once

#include <QListWidget>
#include <QWidget>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace varlo {

class AppSettings;
class SymbolLabel;

// The excluded ports, one row each with a red minus button after the number that removes it.
// A list view rather than a widget per row, so a stored list of thousands stays quick.
class ExcludedPortList : public QListWidget
{
    Q_OBJECT
public:
    explicit ExcludedPortList(QWidget* parent = nullptr);

    void setPorts(const QList<qint64>& ports);
    // Where row `row` draws its remove button, in viewport coordinates.
    QRect removeButtonRect(int row) const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static constexpr int maxVisibleRows = 6;

Q_SIGNALS:
    void removeRequested(qint64 port);
};

// The Ports tab: the monitored range with live validation, the excluded ports
// with their add row, and Reset to Defaults.
class PortsSettingsView : public QWidget
{
    Q_OBJECT
public:
    explicit PortsSettingsView(AppSettings& settings, QWidget* parent = nullptr);

    // Text exactly as typed: an optional sign and digits, between 1 and 65535.
    static std::optional<qint64> parsePort(const QString& text);
    static QString addPortErrorText();

    // Return in the port field or the Add button.
    void add();

private:
    void showRange();
    void showExcludedPorts();
    void updateRangeValidity();
    void updateAddButton();
    void setAddPortError(const QString& text);

    AppSettings& m_settings;
    QLineEdit* m_rangeField;
    SymbolLabel* m_invalidRange;
    QLabel* m_noExclusions;
    ExcludedPortList* m_excluded;
    QLineEdit* m_newPortField;
    QPushButton* m_addButton;
    QLabel* m_addPortError;
};

} // namespace varlo
