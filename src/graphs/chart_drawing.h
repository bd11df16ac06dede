#pragma once

#include "graphs/canvas.h"

namespace quorvel {

// "Arial" bold at `cellHeight`, as every text of a chart is drawn.
inline Font ChartBoldFont(int cellHeight) {
  Font font;
  font.face = "Arial";
  font.cellHeight = cellHeight;
  font.weight = 700;
  font.pitchAndFamily = 16;
  return font;
}

// Selects a pen and a brush for some shapes and puts the previous ones back
// afterwards, so the surface ends with the pen and brush it had.
class ScopedPenBrush {
 public:
  ScopedPenBrush(Canvas& surface, Pen pen, Color brush)
      : surface_(surface),
        previousPen_(surface.SelectPen(pen)),
        previousBrush_(surface.SelectBrush(Brush{brush})) {}
  // A 1-pixel solid pen.
  ScopedPenBrush(Canvas& surface, Color pen, Color brush)
      : ScopedPenBrush(surface, Pen{pen, 1, PenStyle::kSolid}, brush) {}
  ~ScopedPenBrush() {
    surface_.SelectBrush(previousBrush_);
    surface_.SelectPen(previousPen_);
  }
  ScopedPenBrush(const ScopedPenBrush&) = delete;
  ScopedPenBrush& operator=(const ScopedPenBrush&) = delete;

 private:
  Canvas& surface_;
  Pen previousPen_;
  Brush previousBrush_;
};

}  // namespace quorvel
