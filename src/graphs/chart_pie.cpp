#include <algorithm>
#include <cstdio>
#include <vector>

#include "graphs/chart.h"
#include "graphs/chart_drawing.h"
#include "graphs/pie_geometry.h"

namespace quorvel {
namespace {

Rect CircleBox(Point center, int radius) {
  return {center.x - radius, center.y - radius, center.x + radius, center.y + radius};
}

}  // namespace

void CChart::DrawPies(Canvas& surface, bool threeD) {
  for (std::size_t s = 0; s < series_.size(); ++s) {
    DrawOnePie(surface, *series_[s], static_cast<int>(s) + 1, threeD);
  }
}

void CChart::DrawOnePie(Canvas& surface, const CChartSeries& series, int seriesNumber,
                        bool threeD) {
  const TextMetrics metrics = surface.GetTextMetrics();
  const int boxWidth = metrics.maxCharWidth + 10;
  const int boxHeight = metrics.height + 6;
  const int seriesCount = static_cast<int>(series_.size());
  const CChartLayout& l = layout_;

  const int size = std::min(l.plotWidth, l.plotHeight) / seriesCount;
  const int radius = (size - 3 * boxWidth) / 3;
  if (radius <= 0) {
    return;  // too small a surface for any pie
  }
  const int depth = threeD ? static_cast<int>(radius * depthRatio_) : 0;
  const int cy = (l.plotHeight + 60) / 2;
  const int cx = seriesCount == 1
                     ? l.plotLeft + l.plotWidth / 2
                     : ((l.plotWidth / seriesCount) / 2) * (2 * seriesNumber - 1) + l.plotLeft + 15;
  const Point top{cx, cy};
  const Point bottom{cx + depth, cy + depth};

  const std::string& label = series.GetLabel();
  if (!label.empty()) {
    surface.DrawText({cx - (TextLength(label) * 8) / 2,
                      cy + static_cast<int>(1.5 * radius) + boxHeight + 15},
                     label);
  }

  // Values of 0 or less are no slices; leaving them out of the total keeps
  // the positive slices within one turn.
  double total = 0;
  for (int i = 0; i < pointCount_; ++i) {
    total += std::max(series.GetValueAt(i), 0);
  }
  if (total <= 0) {
    return;
  }
  // A first slice starts just above the left end, so that a slice ending at
  // 360 (one pixel above it) meets its start and is drawn as a full circle.
  const int lift = series.GetValueAt(0) > 0 ? 1 : 0;

  if (threeD) {
    Point previousTop{cx - radius, cy - lift};
    Point previousBottom{cx + depth - radius, cy + depth - lift};
    int previousQuadrant = 0;
    Color backColor = kBlack;
    long long sum = 0;
    for (int i = 0; i < pointCount_; ++i) {
      const int value = series.GetValueAt(i);
      if (value <= 0) {
        continue;
      }
      sum += value;
      const int angle = PieAngle(static_cast<double>(sum), total);
      const int quadrant = angle / 90;
      const Point pt = RimPoint(top, radius, angle);
      const Point pb = RimPoint(bottom, radius, angle);
      const Color side = SideColor(ColorAt(i));
      if (quadrant >= 2 && previousQuadrant >= 2) {
        // Entirely at the back: the band shows only below the top face.
        ScopedPenBrush paint(surface, backColor, backColor);
        surface.DrawPie(CircleBox(bottom, radius), previousBottom, pb);
        const Point triangle[] = {pb, pt, previousTop};
        surface.DrawPolygon(triangle);
      } else {
        ScopedPenBrush paint(surface, side, side);
        const Point band[] = {previousBottom, pb, pt, previousTop};
        surface.DrawPolygon(band);
        surface.DrawPie(CircleBox(bottom, radius), previousBottom, pb);
      }
      if (quadrant > 1 && previousQuadrant < 2) {
        backColor = side;
      }
      previousTop = pt;
      previousBottom = pb;
      previousQuadrant = quadrant;
    }
  }

  std::vector<CChartSliceLabel> labels;
  Point previousTop{cx - radius, cy - lift};
  long long sum = 0;
  for (int i = 0; i < pointCount_; ++i) {
    const int value = series.GetValueAt(i);
    if (value <= 0) {
      continue;
    }
    sum += value;
    const int angle = PieAngle(static_cast<double>(sum), total);
    const int middle = PieAngle(static_cast<double>(sum - value / 2), total);
    const Point pt = RimPoint(top, radius, angle);
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", static_cast<int>(value * 100.0 / total));
    labels.push_back(MakeSliceLabel(top, radius, middle, boxWidth, boxHeight, text));
    const Color color = ColorAt(i);
    ScopedPenBrush paint(surface, color, color);
    surface.DrawPie(CircleBox(top, radius), previousTop, pt);
    previousTop = pt;
  }

  SeparateSliceLabels(labels, boxWidth, boxHeight);
  ScopedPenBrush paint(surface, kBlack, kBlack);
  for (const CChartSliceLabel& sliceLabel : labels) {
    surface.DrawLine(sliceLabel.inner, sliceLabel.outer);
    surface.DrawText(sliceLabel.textPosition, sliceLabel.text);
  }
}

}  // namespace quorvel
