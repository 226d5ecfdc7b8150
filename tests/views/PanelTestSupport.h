#pragma once

#include "ScriptedMachine.h"
#include "views/MenubarView.h"
#include "views/PortListView.h"
#include "views/PortRowView.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QWidget>
#include <memory>

namespace varlo::test {

// A panel view over a scripted machine; the VPN badge's clicks are counted.
struct Panel
{
    ScriptedMachine machine;
    int networkSettingsOpened = 0;
    std::unique_ptr<MenubarView> view;

    explicit Panel(const QList<PortHistoryEntry>& history = {}) : machine(history)
    {
        view = std::make_unique<MenubarView>(machine.monitor(), [this] { ++networkSettingsOpened; });
    }
    ~Panel() { view.reset(); }

    PortListView* list() const { return view->list(); }
    PortRowView* row(const QString& key) const { return list()->row(key); }
    template<typename T = QWidget> T* child(const QString& name) const { return view->findChild<T*>(name); }
};

// The pointer enters or leaves `widget`.
inline void hover(QWidget* widget, bool inside)
{
    if (inside) {
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(widget, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(widget, &leave);
    }
}

inline QString home(const QString& path)
{
    return QDir::homePath() + path;
}

inline double minutesAgo(double minutes)
{
    return currentReferenceTime() - minutes * 60;
}

} // namespace varlo::test
