#include "graphs/chart.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "graphs/chart_drawing.h"

namespace quorvel {

int CChartSeries::GetValueAt(int index) const {
  for (const CChartPoint& point : points_) {
    if (point.index == index) {
      return point.value;
    }
  }
  return 0;
}

CChart::CChart(int chartType) : chartType_(chartType), fixedQuadrant_(chartType != kBars) {}

void CChart::SetLegendText(int index, std::string text) {
  if (chartType_ == kScatter) {
    return;
  }
  const int length = TextLength(text);
  legend_.entries.push_back({index, std::move(text)});
  legendWanted_ = true;
  longestLegendText_ = std::max(longestLegendText_, length);
  legend_.longestTextLength = std::max(legend_.longestTextLength, length);
}

void CChart::AddSeries(std::unique_ptr<CChartSeries> series) {
  if (!series) {
    return;
  }
  pointCount_ = std::max(pointCount_, series->GetCount());
  series_.push_back(std::move(series));
}

void CChart::ClearSeries() {
  series_.clear();
  legend_.entries.clear();
  colors_.clear();
  pointCount_ = 0;
}

void CChart::SetAxisTitles(std::string first, std::string second) {
  firstAxisTitle_ = std::move(first);
  secondAxisTitle_ = std::move(second);
}

Color CChart::ColorAt(int position) const {
  if (position < 0 || static_cast<int>(colors_.size()) <= position) {
    return kBlack;
  }
  return colors_[static_cast<std::size_t>(position)].color;
}

std::string CChart::LegendTextAt(int position) const {
  const int count = static_cast<int>(legend_.entries.size());
  if (count == 0 || position < 0 || count < position) {
    return {};
  }
  if (count == position) {
    return "No Data";
  }
  return legend_.entries[static_cast<std::size_t>(position)].text;
}

bool CChart::IsKnownType(int chartType) {
  switch (chartType) {
    case kBars:
    case kLines:
    case kPie:
    case kScatter:
    case kBoxes:
    case kBars2:
    case kLines2:
    case kBars3d:
    case kLines3d:
    case kPie3d:
    case kStackedBars3d:
      return true;
    default:
      return false;
  }
}

void CChart::DrawChart(Canvas& surface) {
  const Size client = surface.ClientSize();

  // The frame: the surface's current pen (by default 1-pixel black) round white.
  const Brush previousBrush = surface.SelectBrush(Brush{kWhite});
  surface.DrawRectangle({0, 0, client.width, client.height});
  surface.SelectBrush(previousBrush);

  layout_ = CChartLayout{};
  layout_.frameHeight = client.height - 20;
  layout_.frameWidth = client.width - 5;

  DrawTitle(surface, client.width);
  SetPlotArea(surface);
  if (legendWanted_) {
    if (const std::optional<int> legendLeft = DrawLegend(surface)) {
      layout_.plotWidth = *legendLeft - layout_.plotLeft - 10;
    }
  }
  if (!IsKnownType(chartType_)) {
    surface.ShowMessage("No graph type to display");
    return;
  }
  if (chartType_ == kBars) {
    ChooseQuadrantMode();
  }
  if (IsPieType(chartType_)) {
    DrawPies(surface, chartType_ == kPie3d);
    return;
  }
  DrawAxes(surface);
  DrawPlot(surface);
}

void CChart::DrawTitle(Canvas& surface, int clientWidth) {
  const int length = TextLength(title_);
  if (length == 0) {
    return;
  }
  int size = 24;
  if (length * 12 > layout_.frameWidth) {
    // Stops at 2 so that a surface narrower than the frame margin cannot
    // send the size below zero.
    while (size > 2 && length * (size / 2) > layout_.frameWidth) {
      size -= 2;
    }
  }
  const Font previous = surface.SelectFont(ChartBoldFont(size));
  const int x = clientWidth / 2 - (length / 2) * surface.GetTextMetrics().averageCharWidth;
  surface.DrawText({x, 10}, title_);
  surface.SelectFont(previous);
}

void CChart::SetPlotArea(Canvas& surface) {
  CChartLayout& l = layout_;
  if (IsPieType(chartType_)) {
    l.plotWidth = l.frameWidth - 10;
    l.plotHeight = l.frameHeight - 50;
    l.plotLeft = 5;
    l.plotBottom = l.frameHeight - 5;
  } else {
    // Room on the left for the widest tick label, below for a row of tick
    // labels and the horizontal axis's title, above for the vertical one's.
    const Font previous = surface.SelectFont(ChartBoldFont(axisLabelFontSizes_[0]));
    const TextMetrics tick = surface.GetTextMetrics();
    surface.SelectFont(previous);
    const int digits = TextLength(std::to_string(-axisMaximum_));
    const int titleRoom = axisLabelFontSizes_[1] + 5;
    const int plotTop = 45 + (secondAxisTitle_.empty() ? 0 : titleRoom);
    l.plotLeft = 10 + digits * tick.averageCharWidth;
    l.plotBottom = l.frameHeight - 10 - tick.height - (firstAxisTitle_.empty() ? 0 : titleRoom);
    l.plotHeight = l.plotBottom - plotTop;
    l.plotWidth = l.frameWidth - l.plotLeft - 10;
  }
  l.areaLeft = l.plotLeft;
  l.areaBottom = l.plotBottom;
}

std::optional<int> CChart::DrawLegend(Canvas& surface) {
  const int n = pointCount_;
  const int fontSize = axisLabelFontSizes_[2];
  const int height = 18 * n + 26;
  const int top = layout_.frameHeight / 2 - height / 2;
  const int bottom = top + height;
  const int right = layout_.frameWidth - 5;
  // As wide as the longest text asks, but at most half the frame, and never
  // so wide that a pie loses its readable radius: longer texts are cut.
  int width = legend_.longestTextLength * static_cast<int>(fontSize * 0.66) + 25;
  width = std::min(width, layout_.frameWidth / 2);
  if (IsPieType(chartType_)) {
    const int labelBox = surface.GetTextMetrics().maxCharWidth + 10;
    const int pieWidth = 3 * kReadablePieRadius + 3 * labelBox;
    width = std::min(width, right - (layout_.plotLeft + 10 + pieWidth));
  }
  if (width < kSmallestLegendWidth) {
    return std::nullopt;
  }
  const int left = right - width;
  layout_.legendWidth = width;

  surface.DrawRectangle({left, top, right, bottom});

  const Font previous = surface.SelectFont(ChartBoldFont(16));
  const int headingX = left + layout_.legendWidth / 2 - 3 * surface.GetTextMetrics().averageCharWidth;
  surface.DrawText({headingX, top + 3}, "Legend");
  surface.SelectFont(ChartBoldFont(fontSize));
  const int boxLeft = std::min(left + 10 + (fontSize / 2) * longestLegendText_, right - 5 - kSmallestColorBox);
  for (int i = 0; i < n; ++i) {
    const int y = top + 25 + 18 * i;
    surface.DrawText({left + 5, y}, ElideText(surface, LegendTextAt(i), boxLeft - left - 7));
    const Brush previousBrush = surface.SelectBrush(Brush{ColorAt(i)});
    surface.DrawRectangle({boxLeft, y, right - 5, y + 12});
    surface.SelectBrush(previousBrush);
  }
  surface.SelectFont(previous);
  return left;
}

}  // namespace quorvel
