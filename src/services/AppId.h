#pragma once

namespace varlo {

// Reverse-DNS identity of the application: the autostart entry's file name,
// the desktop file id and the prefix of the logging categories.
inline constexpr char appId[] = "app.varlo.Varlo";

} // namespace varlo
