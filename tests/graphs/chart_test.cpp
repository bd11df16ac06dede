#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "graphs/chart.h"
#include "graphs/recording_canvas.h"
#include "recorded_shapes.h"

namespace quorvel {
namespace {

constexpr TextMetrics kMetrics{7, 14, 16};

// Half the cell height as average width: a text placed with the metrics of
// the wrong font lands elsewhere.
TextMetrics MetricsOf(const Font& font) { return {font.cellHeight / 2, font.cellHeight, font.cellHeight}; }

std::unique_ptr<CChartSeries> SeriesOf(const std::vector<int>& values) {
  auto series = std::make_unique<CChartSeries>();
  for (std::size_t i = 0; i < values.size(); ++i) series->AddPoint(static_cast<int>(i), values[i]);
  return series;
}

TEST(ChartTest, LegendEntriesByPositionCountCharactersAndSurviveNoClear) {
  CChart chart(CChart::kPie3d);
  EXPECT_EQ(chart.LegendTextAt(0), "");  // nothing at all: not even "No Data"
  chart.SetLegendText(7, "Zürich (1 B)");  // 12 characters, 13 bytes
  chart.SetLegendText(2, "two");
  chart.SetColor(9, {1, 2, 3});
  EXPECT_EQ(chart.LegendTextAt(0), "Zürich (1 B)");
  EXPECT_EQ(chart.LegendTextAt(1), "two");
  EXPECT_EQ(chart.LegendTextAt(2), "No Data");
  EXPECT_EQ(chart.ColorAt(0), (Color{1, 2, 3}));
  EXPECT_EQ(chart.ColorAt(1), kBlack);
  chart.AddSeries(SeriesOf({1, 2, 3}));
  EXPECT_EQ(chart.Legend().longestTextLength, 12);
  chart.ClearSeries();
  EXPECT_EQ(chart.PointCount(), 0);
  EXPECT_TRUE(chart.Legend().entries.empty());
  EXPECT_EQ(chart.Legend().longestTextLength, 12);  // the legend never narrows
}

TEST(ChartTest, FrameUsesTheSurfacePenAndGivesTheBrushBack) {
  CChart chart(CChart::kPie3d);
  RecordingCanvas canvas({400, 300}, kMetrics);
  const Pen red{{255, 0, 0}, 3, PenStyle::kSolid};
  canvas.SelectPen(red);
  canvas.SelectBrush(Brush{{0, 0, 255}});
  chart.DrawChart(canvas);
  ASSERT_FALSE(canvas.Primitives().empty());
  const Primitive& frame = canvas.Primitives().front();
  EXPECT_EQ(frame.rect, (Rect{0, 0, 400, 300}));
  EXPECT_EQ(frame.brush.color, kWhite);
  EXPECT_EQ(frame.pen, red);
  EXPECT_EQ(canvas.CurrentBrush().color, (Color{0, 0, 255}));
}

TEST(ChartTest, TitleShrinksInStepsOfTwoUntilItFitsTheFrame) {
  struct Case {
    int width, length, size, x;  // x = width / 2 - (length / 2) * (size / 2)
  };
  for (const Case& c : {Case{200, 30, 12, 10},  // 30 * 12 > 195; 30 * 6 = 180 fits
                        Case{200, 16, 24, 4},   // 16 * 12 = 192 fits at once
                        Case{200, 17, 22, 12},  // 204 > 195; 17 * 11 = 187
                        Case{3, 3, 2, 0},       // frame -2: stops at 2 instead of spinning
                        Case{200, 0, 0, 0}}) {  // no title: no text
    SCOPED_TRACE(c.length);
    CChart chart(CChart::kPie3d);
    chart.SetTitle(std::string(static_cast<std::size_t>(c.length), 'T'));
    RecordingCanvas canvas({c.width, 200}, kMetrics);
    canvas.SetMetricsProvider(MetricsOf);
    chart.DrawChart(canvas);
    const auto texts = canvas.OfKind(PrimitiveKind::kText);
    ASSERT_EQ(texts.size(), c.length == 0 ? 0u : 1u);
    if (c.length == 0) continue;
    EXPECT_EQ(texts[0].font.cellHeight, c.size);
    EXPECT_EQ(texts[0].font.weight, 700);
    EXPECT_EQ(texts[0].points[0], (Point{c.x, 10}));
  }
}

TEST(ChartTest, LegendOfThreeEntriesStacksTextsAndColourBoxes) {
  CChart chart(CChart::kPie3d);
  chart.SetLegendText(0, "first-text");  // 10 characters, the longest
  chart.SetLegendText(1, "second");
  chart.SetColor(0, {10, 20, 30});
  chart.AddSeries(SeriesOf({0, 0, 0}));  // three points, nothing to slice
  RecordingCanvas canvas({400, 300}, kMetrics);
  canvas.SetMetricsProvider(MetricsOf);
  chart.DrawChart(canvas);
  // Height 18 * 3 + 26 = 80; top 280 / 2 - 40 = 100; right 395 - 5 = 390;
  // left 390 - 10 * trunc(12 * 0.66) - 25 = 295. Boxes from 295 + 10 +
  // (12 / 2) * 10 to 390 - 5, 12 high.
  const auto rects = canvas.OfKind(PrimitiveKind::kRectangle);
  ASSERT_EQ(rects.size(), 5u);  // frame, legend, three colour boxes
  EXPECT_EQ(rects[1].rect, (Rect{295, 100, 390, 180}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rects[2 + i].rect, (Rect{365, 125 + 18 * i, 385, 137 + 18 * i}));
  EXPECT_EQ(rects[2].brush.color, (Color{10, 20, 30}));
  EXPECT_EQ(rects[4].brush.color, kBlack);  // no colour for position 2
  const auto texts = canvas.OfKind(PrimitiveKind::kText);
  ASSERT_EQ(texts.size(), 4u);
  // Heading in "Arial" 16 (average width 8): 295 + 95 / 2 - 3 * 8 = 318.
  EXPECT_EQ(texts[0].text, "Legend");
  EXPECT_EQ(texts[0].points[0], (Point{318, 103}));
  const char* expected[] = {"first-text", "second", "No Data"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(texts[i + 1].text, expected[i]);
    EXPECT_EQ(texts[i + 1].points[0], (Point{300, 125 + 18 * i}));
    EXPECT_EQ(texts[i + 1].font.cellHeight, 12);
  }
  EXPECT_EQ(chart.Layout().plotWidth, 295 - 5 - 10);
}

// Real host names are long: the legend stays within half the chart and
// leaves the pie a readable radius, and its texts are cut in the middle.
TEST(ChartTest, LongLegendTextsAreCutAndThePieKeepsAReadableRadius) {
  const std::string name = std::string(70, 'h') + ".example.com (1.20 MB)";
  // W = 24 for the label boxes: a radius of 30 needs a plot 162 wide.
  // 300 x 250: right 290; 290 - (5 + 10 + 162) = 113 < 295 / 2.
  // 700 x 250: half the frame, 695 / 2 = 347. 200 x 250: no legend at all.
  for (const auto& [surface, legendLeft] : {std::pair{Size{300, 250}, 177}, std::pair{Size{700, 250}, 690 - 347},
                                            std::pair{Size{200, 250}, -1}}) {
    SCOPED_TRACE(surface.width);
    CChart chart(CChart::kPie3d);
    chart.SetLegendText(0, name);
    chart.SetLegendText(1, "short");
    chart.AddSeries(SeriesOf({60, 40}));
    RecordingCanvas canvas(surface, kMetrics);
    chart.DrawChart(canvas);
    const auto wedges = testing::Wedges(canvas);
    ASSERT_FALSE(wedges.empty());
    EXPECT_GE((wedges.back().box.right - wedges.back().box.left) / 2, CChart::kReadablePieRadius);
    const auto rects = canvas.OfKind(PrimitiveKind::kRectangle);
    if (legendLeft < 0) {
      EXPECT_EQ(rects.size(), 1u);  // the frame alone
      continue;
    }
    const auto texts = canvas.OfKind(PrimitiveKind::kText);
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(rects[1].rect.left, legendLeft);
    const std::string& cut = texts[1].text;
    EXPECT_NE(cut.find("\u2026"), std::string::npos);
    EXPECT_EQ(cut.substr(0, 3), "hhh");
    EXPECT_EQ(cut.substr(cut.size() - 3), "MB)");
    EXPECT_LE(texts[1].points[0].x + TextLength(cut) * kMetrics.averageCharWidth, rects[2].rect.left);
    EXPECT_EQ(texts[2].text, "short");
  }
}

}  // namespace
}  // namespace quorvel
