#pragma once

#include <QWidget>

namespace varlo {

struct PortRowState;

// What an expanded row shows under its main line: the member processes of a
// group, then the process detail (a spinner while it loads, "Info
// unavailable", or CPU, memory, uptime, container, SSH forwards, arguments).
// Built once per state; the row replaces it when the state changes.
class PortDetailView : public QWidget
{
    Q_OBJECT

public:
    explicit PortDetailView(const PortRowState& state, QWidget* parent = nullptr);

private:
    QWidget* memberList(const PortRowState& state);
    QWidget* detailBlock(const PortRowState& state);
};

} // namespace varlo
