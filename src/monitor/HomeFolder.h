#pragma once

#include <QString>

namespace varlo {

// Replaces the home folder with "~" wherever it appears as a whole path
// prefix, so /home/dev/app becomes ~/app but /home/developer stays as it is.
// `onlyAtStart` limits it to the beginning of `text`.
QString abbreviateHomeFolder(const QString& text, const QString& homePath, bool onlyAtStart);

} // namespace varlo
