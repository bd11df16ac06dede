// The axis chart types. The program draws only pies; these are kept small
// and plain: categories along the horizontal axis, values up the vertical.

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "graphs/chart.h"
#include "graphs/chart_drawing.h"
#include "graphs/pie_geometry.h"

namespace quorvel {
namespace {

bool VerticalAxisInMiddle(int mode) { return mode == 2 || mode == 4; }
bool HorizontalAxisInMiddle(int mode) { return mode == 3 || mode == 4; }

// Far-off data must not overflow a pixel coordinate; a million pixels off
// the surface is as invisible as any further.
int ToPixel(double coordinate) { return static_cast<int>(std::clamp(coordinate, -1e6, 1e6)); }

}  // namespace

void CChart::ChooseQuadrantMode() {
  if (!fixedQuadrant_) {
    bool negativeIndex = false;
    bool negativeValue = false;
    for (const auto& series : series_) {
      for (const CChartPoint& point : series->Points()) {
        negativeIndex = negativeIndex || point.index < 0;
        negativeValue = negativeValue || point.value < 0;
      }
    }
    quadrantMode_ = negativeIndex ? (negativeValue ? 4 : 2) : (negativeValue ? 3 : 1);
  }
  if (VerticalAxisInMiddle(quadrantMode_)) {
    layout_.plotLeft += layout_.plotWidth / 2;
  }
  if (HorizontalAxisInMiddle(quadrantMode_)) {
    layout_.plotBottom -= layout_.plotHeight / 2;
  }
}

int CChart::SlotWidth() const {
  const int categories =
      std::max(chartType_ == kBoxes ? static_cast<int>(series_.size()) : pointCount_, 1);
  const int span = VerticalAxisInMiddle(quadrantMode_) ? layout_.plotWidth / 2 : layout_.plotWidth;
  return std::max(span / categories, 1);
}

int CChart::XOfIndex(int index) const {
  return ToPixel(layout_.plotLeft + static_cast<double>(index) * SlotWidth());
}

int CChart::YOfValue(std::int64_t value) const {
  const int span =
      HorizontalAxisInMiddle(quadrantMode_) ? layout_.plotHeight / 2 : layout_.plotHeight;
  return ToPixel(layout_.plotBottom - static_cast<double>(value) * span / axisMaximum_);
}

void CChart::DrawAxes(Canvas& surface) {
  const CChartLayout& l = layout_;
  {
    const Pen previous = surface.SelectPen(Pen{kBlack, 2, PenStyle::kSolid});
    surface.DrawLine({l.plotLeft, l.areaBottom}, {l.plotLeft, l.areaBottom - l.plotHeight});
    surface.DrawLine({l.areaLeft, l.plotBottom}, {l.areaLeft + l.plotWidth, l.plotBottom});
    surface.SelectPen(previous);
  }
  const Font previousFont = surface.SelectFont(ChartBoldFont(axisLabelFontSizes_[0]));
  const auto label = [&surface](int number, Point at, bool rightAligned) {
    const std::string text = std::to_string(number);
    const Size extent = surface.GetTextExtent(text);
    surface.DrawText({rightAligned ? at.x - extent.width : at.x - extent.width / 2, at.y}, text);
  };
  const int step = std::max(axisMaximum_ / 5, 1);
  const int lowest = HorizontalAxisInMiddle(quadrantMode_) ? -axisMaximum_ : 0;
  const int halfHeight = surface.GetTextMetrics().height / 2;
  for (std::int64_t value = lowest; value <= axisMaximum_; value += step) {
    const int y = YOfValue(value);
    surface.DrawLine({l.plotLeft - 4, y}, {l.plotLeft, y});
    label(static_cast<int>(value), {l.plotLeft - 6, y - halfHeight}, true);
  }
  const int slot = SlotWidth();
  const int categories = chartType_ == kBoxes ? static_cast<int>(series_.size()) : pointCount_;
  for (int i = 0; i < categories; ++i) {
    label(i, {XOfIndex(i) + slot / 2, l.plotBottom + 4}, false);
  }
  surface.SelectFont(ChartBoldFont(axisLabelFontSizes_[1]));
  if (!firstAxisTitle_.empty()) {
    const Size extent = surface.GetTextExtent(firstAxisTitle_);
    surface.DrawText({l.areaLeft + l.plotWidth / 2 - extent.width / 2,
                      l.areaBottom + 2 * halfHeight + 8},
                     firstAxisTitle_);
  }
  if (!secondAxisTitle_.empty()) {
    surface.DrawText({l.areaLeft, l.areaBottom - l.plotHeight - axisLabelFontSizes_[1] - 5},
                     secondAxisTitle_);
  }
  surface.SelectFont(previousFont);
}

void CChart::DrawPlot(Canvas& surface) {
  switch (chartType_) {
    case kBars:
      DrawBars(surface, false, 0);
      break;
    case kBars2:
      DrawBars(surface, true, 0);
      break;
    case kBars3d:
      DrawBars(surface, false, SlotWidth() / 6);
      break;
    case kStackedBars3d:
      DrawBars(surface, true, SlotWidth() / 6);
      break;
    case kLines:
      DrawLines(surface, true, 0);
      break;
    case kLines2:
      DrawLines(surface, false, 0);
      break;
    case kLines3d:
      DrawLines(surface, false, SlotWidth() / 6);
      break;
    case kScatter:
      DrawScatter(surface);
      break;
    case kBoxes:
      DrawBoxes(surface);
      break;
    default:
      break;
  }
}

void CChart::DrawBar(Canvas& surface, Rect bar, Color color, int depth) {
  if (bar.top > bar.bottom) {
    std::swap(bar.top, bar.bottom);
  }
  ScopedPenBrush paint(surface, kBlack, color);
  surface.DrawRectangle(bar);
  if (depth > 0) {
    surface.SelectBrush(Brush{SideColor(color)});
    const Point lid[] = {{bar.left, bar.top},
                         {bar.left + depth, bar.top - depth},
                         {bar.right + depth, bar.top - depth},
                         {bar.right, bar.top}};
    surface.DrawPolygon(lid);
    const Point side[] = {{bar.right, bar.top},
                          {bar.right + depth, bar.top - depth},
                          {bar.right + depth, bar.bottom - depth},
                          {bar.right, bar.bottom}};
    surface.DrawPolygon(side);
  }
}

void CChart::DrawBars(Canvas& surface, bool stacked, int depth) {
  const int slot = SlotWidth();
  const int seriesCount = static_cast<int>(series_.size());
  const int width = stacked ? std::max(slot * 2 / 3, 1) : std::max(slot / (seriesCount + 1), 1);
  std::map<int, std::int64_t> stackTop;  // by data index: the value reached so far
  for (int s = 0; s < seriesCount; ++s) {
    for (const CChartPoint& point : series_[static_cast<std::size_t>(s)]->Points()) {
      const int left = stacked ? XOfIndex(point.index) + slot / 6
                               : XOfIndex(point.index) + width / 2 + s * width;
      const std::int64_t base = stacked ? stackTop[point.index] : 0;
      const std::int64_t reached = base + point.value;
      if (stacked) {
        stackTop[point.index] = reached;
      }
      DrawBar(surface, {left, YOfValue(reached), left + width, YOfValue(base)},
              ColorAt(point.index), depth);
    }
  }
}

void CChart::DrawLines(Canvas& surface, bool markers, int band) {
  const int slot = SlotWidth();
  for (std::size_t s = 0; s < series_.size(); ++s) {
    std::vector<Point> points;
    for (const CChartPoint& point : series_[s]->Points()) {
      points.push_back({XOfIndex(point.index) + slot / 2, YOfValue(point.value)});
    }
    const Color color = ColorAt(static_cast<int>(s));
    ScopedPenBrush paint(surface, Pen{color, 2, PenStyle::kSolid}, SideColor(color));
    for (std::size_t i = 1; i < points.size(); ++i) {
      const Point a = points[i - 1];
      const Point b = points[i];
      if (band > 0) {
        const Point strip[] = {a, b, {b.x + band, b.y - band}, {a.x + band, a.y - band}};
        surface.DrawPolygon(strip);
      }
      surface.DrawLine(a, b);
    }
    if (markers) {
      surface.SelectBrush(Brush{color});
      for (const Point p : points) {
        surface.DrawEllipse({p.x - 3, p.y - 3, p.x + 3, p.y + 3});
      }
    }
  }
}

void CChart::DrawScatter(Canvas& surface) {
  const int slot = SlotWidth();
  for (std::size_t s = 0; s < series_.size(); ++s) {
    const auto& points = series_[s]->Points();
    if (points.empty()) {
      continue;
    }
    const Point p{XOfIndex(points.front().index) + slot / 2, YOfValue(points.front().value)};
    ScopedPenBrush paint(surface, kBlack, ColorAt(static_cast<int>(s)));
    surface.DrawEllipse({p.x - 3, p.y - 3, p.x + 3, p.y + 3});
  }
}

void CChart::DrawBoxes(Canvas& surface) {
  const int slot = SlotWidth();
  for (std::size_t s = 0; s < series_.size(); ++s) {
    std::vector<int> values;
    for (const CChartPoint& point : series_[s]->Points()) {
      values.push_back(point.value);
    }
    if (values.empty()) {
      continue;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const int centre = XOfIndex(static_cast<int>(s)) + slot / 2;
    const int half = std::max(slot / 4, 1);
    const int low = YOfValue(values[n / 4]);
    const int high = YOfValue(values[(3 * n) / 4]);
    ScopedPenBrush paint(surface, kBlack, ColorAt(static_cast<int>(s)));
    surface.DrawLine({centre, YOfValue(values.front())}, {centre, low});
    surface.DrawLine({centre, high}, {centre, YOfValue(values.back())});
    surface.DrawRectangle({centre - half, high, centre + half, low + 1});
    const int median = YOfValue(values[n / 2]);
    surface.DrawLine({centre - half, median}, {centre + half, median});
  }
}

}  // namespace quorvel
