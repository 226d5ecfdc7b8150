#pragma once

#include <QPalette>

namespace varlo::test {

// Qt's own light palette (Fusion).
QPalette lightPalette();
// A dark palette in the manner of common dark desktop themes.
QPalette darkPalette();

} // namespace varlo::test
