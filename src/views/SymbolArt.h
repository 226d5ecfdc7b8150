#pragma once

#include "views/Style.h"

class QPainter;
class QRectF;

namespace varlo::style {

// Varlo's own drawing of `symbol`, opaque black on transparent, fitted into the square `box`.
void paintSymbolArt(QPainter& painter, const QRectF& box, Symbol symbol);

} // namespace varlo::style
