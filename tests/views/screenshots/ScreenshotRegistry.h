#pragma once

#include <QList>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

namespace varlo::screenshots {

// Builds the widget of one scripted state. It runs once per palette, after the palette is set,
// and may spin the event loop until the widget shows what it should.
using Builder = std::function<std::unique_ptr<QWidget>()>;

struct State
{
    QString name;
    Builder build;
};

// Registers a state at start-up. In any source file of varlo-screenshots:
//   static const varlo::screenshots::Registration sample(u"panel-empty"_s, [] { ...; return widget; });
// gives panel-empty-light.png, panel-empty-light@2x.png, panel-empty-dark.png, panel-empty-dark@2x.png.
struct Registration
{
    Registration(const QString& name, Builder build);
};

// Every registered state, sorted by name.
QList<State> registeredStates();

} // namespace varlo::screenshots
