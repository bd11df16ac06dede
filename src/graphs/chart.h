#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "graphs/canvas.h"

namespace quorvel {

struct CChartPoint {
  int index = 0;  // the category (data index) the value belongs to
  int value = 0;
};

class CChartSeries {
 public:
  void AddPoint(int index, int value) { points_.push_back({index, value}); }
  int GetCount() const { return static_cast<int>(points_.size()); }
  // Value of the first point whose index is `index`; 0 when there is none.
  int GetValueAt(int index) const;

  void SetLabel(std::string label) { label_ = std::move(label); }
  const std::string& GetLabel() const { return label_; }
  const std::vector<CChartPoint>& Points() const { return points_; }

 private:
  std::string label_;
  std::vector<CChartPoint> points_;  // in the order added
};

struct CChartLegendEntry {
  int index = 0;
  std::string text;
};

struct CChartLegend {
  std::vector<CChartLegendEntry> entries;  // in the order added
  int longestTextLength = 0;               // greatest ever added; survives clearing
};

struct CChartColorEntry {
  int index = 0;
  Color color;
};

// Built while a pie is drawn: where a slice's percentage text and its
// leader line go.
struct CChartSliceLabel {
  Point inner;
  Point outer;
  Point textPosition;
  int quadrant = 0;  // of the slice's middle angle, 0 to 3
  std::string text;
};

// Geometry set by DrawChart.
struct CChartLayout {
  int frameHeight = 0;
  int frameWidth = 0;
  int plotLeft = 0;  // the vertical axis, moved to the middle by type 0's quadrant mode
  int plotBottom = 0;
  int plotWidth = 0;
  int plotHeight = 0;
  int areaLeft = 0;  // the plot area's own left and bottom edges
  int areaBottom = 0;
  int legendWidth = 0;
};

// A chart drawn onto any Canvas it is handed; it owns no window. Type 32
// (three-dimensional pie) is what the program uses; see ChartType.
class CChart {
 public:
  enum ChartType {
    kBars = 0,
    kLines = 1,
    kPie = 2,
    kScatter = 3,
    kBoxes = 4,
    kBars2 = 20,
    kLines2 = 21,
    kBars3d = 30,
    kLines3d = 31,
    kPie3d = 32,
    kStackedBars3d = 320,
  };

  explicit CChart(int chartType);
  CChart(const CChart&) = delete;
  CChart& operator=(const CChart&) = delete;

  void SetTitle(std::string title) { title_ = std::move(title); }
  // Ignored by the scatter type, which has no legend.
  void SetLegendText(int index, std::string text);
  void SetColor(int index, Color color) { colors_.push_back({index, color}); }
  void AddSeries(std::unique_ptr<CChartSeries> series);
  // Drops the series, legend texts and colours; title, depth ratio and the
  // longest-text lengths stay.
  void ClearSeries();
  void SetDepthRatio(double ratio) { depthRatio_ = ratio; }
  double DepthRatio() const { return depthRatio_; }
  void SetAxisTitles(std::string first, std::string second);
  // The value at the top of the value axis; at least 1.
  void SetAxisMaximum(int maximum) { axisMaximum_ = maximum > 1 ? maximum : 1; }

  void DrawChart(Canvas& surface);

  // A pie keeps at least this radius beside a legend of long texts.
  static constexpr int kReadablePieRadius = 30;
  static constexpr int kSmallestLegendWidth = 40;
  static constexpr int kSmallestColorBox = 12;

  // By position in the order added, not by the stored index.
  Color ColorAt(int position) const;
  std::string LegendTextAt(int position) const;

  int GetChartType() const { return chartType_; }
  int PointCount() const { return pointCount_; }
  bool LegendWanted() const { return legendWanted_; }
  const CChartLegend& Legend() const { return legend_; }
  const std::vector<std::unique_ptr<CChartSeries>>& Series() const { return series_; }
  const CChartLayout& Layout() const { return layout_; }

 private:
  static bool IsPieType(int chartType) { return chartType == kPie || chartType == kPie3d; }
  static bool IsKnownType(int chartType);

  void DrawTitle(Canvas& surface, int clientWidth);
  void SetPlotArea(Canvas& surface);
  // The legend's left edge; nothing when the surface has no room for one.
  std::optional<int> DrawLegend(Canvas& surface);
  void ChooseQuadrantMode();
  void DrawAxes(Canvas& surface);
  void DrawPies(Canvas& surface, bool threeD);
  void DrawOnePie(Canvas& surface, const CChartSeries& series, int seriesNumber, bool threeD);
  void DrawPlot(Canvas& surface);

  // Axis-type helpers (chart_plots.cpp).
  int SlotWidth() const;
  int XOfIndex(int index) const;
  int YOfValue(std::int64_t value) const;
  void DrawBar(Canvas& surface, Rect bar, Color color, int depth);
  void DrawBars(Canvas& surface, bool stacked, int depth);
  void DrawLines(Canvas& surface, bool markers, int band);
  void DrawScatter(Canvas& surface);
  void DrawBoxes(Canvas& surface);

  std::vector<std::unique_ptr<CChartSeries>> series_;
  int chartType_;
  std::vector<CChartColorEntry> colors_;
  std::string firstAxisTitle_;
  std::string secondAxisTitle_;
  CChartLayout layout_;
  int axisLabelFontSizes_[3] = {12, 12, 12};  // tick labels, axis titles, legend entries
  int axisMaximum_ = 100;
  int pointCount_ = 0;  // largest point count of any series; also the legend rows drawn
  CChartLegend legend_;
  bool legendWanted_ = false;
  std::string title_;
  int longestLegendText_ = 0;
  double depthRatio_ = 0.05;  // pie depth as a fraction of the radius
  int quadrantMode_ = 1;      // 1 axes cross bottom left; 2 vertical, 3 horizontal, 4 both at the middle
  bool fixedQuadrant_;        // type 0 picks its quadrant mode from its data
};

}  // namespace quorvel
