#include "ScreenshotRegistry.h"

#include <algorithm>

namespace varlo::screenshots {

namespace {

QList<State>& states()
{
    static QList<State> registered;
    return registered;
}

} // namespace

Registration::Registration(const QString& name, Builder build)
{
    states().append({name, std::move(build)});
}

QList<State> registeredStates()
{
    QList<State> sorted = states();
    std::sort(sorted.begin(), sorted.end(), [](const State& a, const State& b) { return a.name < b.name; });
    return sorted;
}

} // namespace varlo::screenshots
