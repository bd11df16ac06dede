#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "graphs/chart.h"
#include "graphs/recording_canvas.h"
#include "recorded_shapes.h"

namespace quorvel {
namespace {

constexpr TextMetrics kMetrics{7, 14, 16};

// Half the cell height as average width, so that a text placed with the
// metrics of the wrong font lands elsewhere.
TextMetrics MetricsOf(const Font& font) {
  return {font.cellHeight / 2, font.cellHeight, font.cellHeight};
}

std::unique_ptr<CChartSeries> SeriesOf(const std::vector<int>& values) {
  auto series = std::make_unique<CChartSeries>();
  for (std::size_t i = 0; i < values.size(); ++i) {
    series->AddPoint(static_cast<int>(i), values[i]);
  }
  return series;
}

TEST(ChartSeriesTest, ValueLookupTakesTheFirstPointOfAnIndex) {
  CChartSeries series;
  series.AddPoint(3, 30);
  series.AddPoint(1, 10);
  series.AddPoint(3, 99);
  EXPECT_EQ(series.GetCount(), 3);
  EXPECT_EQ(series.GetValueAt(3), 30);
  EXPECT_EQ(series.GetValueAt(1), 10);
  EXPECT_EQ(series.GetValueAt(0), 0);
}

TEST(ChartTest, LegendTextsAndColoursAreLookedUpByPositionNotByIndex) {
  CChart chart(CChart::kPie3d);
  EXPECT_EQ(chart.LegendTextAt(0), "");  // nothing at all: not even "No Data"
  chart.SetLegendText(7, "seven");
  chart.SetLegendText(2, "two");
  chart.SetColor(9, {1, 2, 3});
  EXPECT_EQ(chart.LegendTextAt(0), "seven");
  EXPECT_EQ(chart.LegendTextAt(1), "two");
  EXPECT_EQ(chart.LegendTextAt(2), "No Data");
  EXPECT_EQ(chart.LegendTextAt(3), "");
  EXPECT_EQ(chart.LegendTextAt(-1), "");
  EXPECT_EQ(chart.ColorAt(0), (Color{1, 2, 3}));
  EXPECT_EQ(chart.ColorAt(1), kBlack);
  EXPECT_EQ(chart.ColorAt(-1), kBlack);
}

TEST(ChartTest, ClearSeriesKeepsTitleDepthAndLongestTexts) {
  CChart chart(CChart::kPie3d);
  chart.SetTitle("title");
  chart.SetDepthRatio(0.1);
  chart.SetLegendText(0, "Zürich (1 B)");  // 12 characters, 13 bytes
  chart.SetLegendText(1, "short");
  chart.SetColor(0, kWhite);
  chart.AddSeries(SeriesOf({1, 2, 3}));
  chart.AddSeries(SeriesOf({1}));
  EXPECT_EQ(chart.PointCount(), 3);
  EXPECT_EQ(chart.Legend().longestTextLength, 12);

  chart.ClearSeries();
  EXPECT_EQ(chart.PointCount(), 0);
  EXPECT_TRUE(chart.Series().empty());
  EXPECT_TRUE(chart.Legend().entries.empty());
  EXPECT_EQ(chart.ColorAt(0), kBlack);
  EXPECT_EQ(chart.Legend().longestTextLength, 12);
  EXPECT_EQ(chart.DepthRatio(), 0.1);
  EXPECT_TRUE(chart.LegendWanted());
}

TEST(ChartTest, ScatterChartsTakeNoLegend) {
  CChart chart(CChart::kScatter);
  chart.SetLegendText(0, "ignored");
  EXPECT_FALSE(chart.LegendWanted());
  EXPECT_TRUE(chart.Legend().entries.empty());
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
  EXPECT_EQ(frame.kind, PrimitiveKind::kRectangle);
  EXPECT_EQ(frame.rect, (Rect{0, 0, 400, 300}));
  EXPECT_EQ(frame.brush.color, kWhite);
  EXPECT_EQ(frame.pen, red);
  EXPECT_EQ(canvas.CurrentBrush().color, (Color{0, 0, 255}));
  EXPECT_EQ(canvas.CurrentPen(), red);
  EXPECT_EQ(chart.Layout().frameWidth, 395);
  EXPECT_EQ(chart.Layout().frameHeight, 280);
}

TEST(ChartTest, TitleShrinksInStepsOfTwoUntilItFitsTheFrame) {
  struct Case {
    int width;
    int length;
    int size;
    int x;  // width / 2 - (length / 2) * (size / 2)
  };
  for (const Case& c : {Case{200, 30, 12, 10},    // 30 * 12 > 195; 30 * 6 = 180 fits
                        Case{200, 16, 24, 4},     // 16 * 12 = 192 fits at once
                        Case{200, 17, 22, 12},    // 204 > 195; 17 * 11 = 187
                        Case{3, 3, 2, 0}}) {      // frame -2: stops at 2 instead of spinning
    CChart chart(CChart::kPie3d);
    chart.SetTitle(std::string(static_cast<std::size_t>(c.length), 'T'));
    RecordingCanvas canvas({c.width, 200}, kMetrics);
    canvas.SetMetricsProvider(MetricsOf);
    chart.DrawChart(canvas);
    const auto texts = canvas.OfKind(PrimitiveKind::kText);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].font.cellHeight, c.size) << c.length;
    EXPECT_EQ(texts[0].font.face, "Arial");
    EXPECT_EQ(texts[0].font.weight, 700);
    EXPECT_EQ(texts[0].font.pitchAndFamily, 16);
    EXPECT_EQ(texts[0].points[0], (Point{c.x, 10})) << c.length;
    EXPECT_EQ(canvas.CurrentFont(), RecordingCanvas({1, 1}, kMetrics).CurrentFont());
  }
}

TEST(ChartTest, EmptyTitleDrawsNoText) {
  CChart chart(CChart::kPie3d);
  RecordingCanvas canvas({200, 200}, kMetrics);
  chart.DrawChart(canvas);
  EXPECT_TRUE(canvas.OfKind(PrimitiveKind::kText).empty());
}

TEST(ChartTest, LegendOfThreeEntriesStacksTextsAndColourBoxes) {
  CChart chart(CChart::kPie3d);
  const Color colours[] = {{10, 20, 30}, {40, 50, 60}};
  chart.SetLegendText(0, "first-text");  // 10 characters, the longest
  chart.SetLegendText(1, "second");
  chart.SetColor(0, colours[0]);
  chart.SetColor(1, colours[1]);
  chart.AddSeries(SeriesOf({0, 0, 0}));  // three points, nothing to slice
  RecordingCanvas canvas({400, 300}, kMetrics);
  canvas.SetMetricsProvider(MetricsOf);
  chart.DrawChart(canvas);

  // Height 18 * 3 + 26 = 80; top 280 / 2 - 40 = 100; right 395 - 5 = 390;
  // left 390 - 10 * trunc(12 * 0.66) - 25 = 295; width 95.
  const auto rects = canvas.OfKind(PrimitiveKind::kRectangle);
  ASSERT_EQ(rects.size(), 5u);  // frame, legend, three colour boxes
  EXPECT_EQ(rects[1].rect, (Rect{295, 100, 390, 180}));
  EXPECT_EQ(rects[1].brush.color, kWhite);
  // Boxes from 295 + 10 + (12 / 2) * 10 to 390 - 5, 12 high.
  EXPECT_EQ(rects[2].rect, (Rect{365, 125, 385, 137}));
  EXPECT_EQ(rects[3].rect, (Rect{365, 143, 385, 155}));
  EXPECT_EQ(rects[4].rect, (Rect{365, 161, 385, 173}));
  EXPECT_EQ(rects[2].brush.color, colours[0]);
  EXPECT_EQ(rects[3].brush.color, colours[1]);
  EXPECT_EQ(rects[4].brush.color, kBlack);  // no colour for position 2

  const auto texts = canvas.OfKind(PrimitiveKind::kText);
  ASSERT_EQ(texts.size(), 4u);
  // Heading in "Arial" 16 (average width 8): 295 + 95 / 2 - 3 * 8 = 318.
  EXPECT_EQ(texts[0].text, "Legend");
  EXPECT_EQ(texts[0].points[0], (Point{318, 103}));
  EXPECT_EQ(texts[0].font.cellHeight, 16);
  const char* expected[] = {"first-text", "second", "No Data"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(texts[static_cast<std::size_t>(i) + 1].text, expected[i]);
    EXPECT_EQ(texts[static_cast<std::size_t>(i) + 1].points[0], (Point{300, 125 + 18 * i}));
    EXPECT_EQ(texts[static_cast<std::size_t>(i) + 1].font.cellHeight, 12);
    EXPECT_EQ(texts[static_cast<std::size_t>(i) + 1].font.weight, 700);
  }
  EXPECT_EQ(chart.Layout().plotWidth, 295 - 5 - 10);
}

TEST(ChartTest, UnknownTypeDrawsFrameTitleAndLegendThenSaysSo) {
  CChart chart(99);
  chart.SetTitle("Title");
  chart.SetLegendText(0, "one");
  chart.SetColor(0, {1, 1, 1});
  chart.AddSeries(SeriesOf({5}));
  RecordingCanvas canvas({300, 200}, kMetrics);
  chart.DrawChart(canvas);
  const auto& all = canvas.Primitives();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back().kind, PrimitiveKind::kMessage);
  EXPECT_EQ(all.back().text, "No graph type to display");
  EXPECT_EQ(canvas.OfKind(PrimitiveKind::kMessage).size(), 1u);
  // Frame, legend frame and colour box; "Title", "Legend" and "one".
  EXPECT_EQ(canvas.OfKind(PrimitiveKind::kRectangle).size(), 3u);
  EXPECT_EQ(canvas.OfKind(PrimitiveKind::kText).size(), 3u);
  EXPECT_TRUE(canvas.OfKind(PrimitiveKind::kLine).empty());
  EXPECT_TRUE(canvas.OfKind(PrimitiveKind::kPie).empty());
}

struct AxisCase {
  int type;
  PrimitiveKind shape;
};

class AxisChartTest : public ::testing::TestWithParam<AxisCase> {};

TEST_P(AxisChartTest, DrawsAxesAndItsShapesInsideThePlot) {
  CChart chart(GetParam().type);
  for (int i = 0; i < 4; ++i) {
    chart.SetColor(i, {static_cast<std::uint8_t>(60 * i + 40), 100, 100});
  }
  chart.AddSeries(SeriesOf({10, 50, 30, 100}));
  chart.AddSeries(SeriesOf({20, 40}));
  RecordingCanvas canvas({400, 300}, kMetrics);
  chart.DrawChart(canvas);
  EXPECT_TRUE(canvas.OfKind(PrimitiveKind::kMessage).empty());
  // Tick labels up to "-100" need 4 * 7 pixels: plot left 38, bottom
  // 280 - 10 - 16 = 254, top 45, right 395 - 10 = 385.
  const auto lines = canvas.OfKind(PrimitiveKind::kLine);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].points, (std::vector<Point>{{38, 254}, {38, 45}}));
  EXPECT_EQ(lines[1].points, (std::vector<Point>{{38, 254}, {385, 254}}));
  EXPECT_EQ(lines[0].pen, (Pen{kBlack, 2, PenStyle::kSolid}));
  // The data's shapes are the ones in the data's colours.
  std::vector<Primitive> shapes;
  for (const Primitive& p : canvas.OfKind(GetParam().shape)) {
    if (p.pen.color != kBlack || p.brush.color != kWhite) {
      shapes.push_back(p);
    }
  }
  ASSERT_FALSE(shapes.empty());
  for (const Primitive& p : shapes) {
    const auto inside = [](Point q) { return q.x >= 38 && q.x <= 400 && q.y >= 30 && q.y <= 254; };
    for (const Point q : p.points) {
      EXPECT_TRUE(inside(q)) << q;
    }
    if (p.kind == PrimitiveKind::kRectangle || p.kind == PrimitiveKind::kEllipse) {
      EXPECT_TRUE(inside({p.rect.left, p.rect.top}) && inside({p.rect.right, p.rect.bottom}))
          << p.rect;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Types, AxisChartTest,
                         ::testing::Values(AxisCase{CChart::kBars, PrimitiveKind::kRectangle},
                                           AxisCase{CChart::kLines, PrimitiveKind::kEllipse},
                                           AxisCase{CChart::kScatter, PrimitiveKind::kEllipse},
                                           AxisCase{CChart::kBoxes, PrimitiveKind::kRectangle},
                                           AxisCase{CChart::kBars2, PrimitiveKind::kRectangle},
                                           AxisCase{CChart::kLines2, PrimitiveKind::kLine},
                                           AxisCase{CChart::kBars3d, PrimitiveKind::kPolygon},
                                           AxisCase{CChart::kLines3d, PrimitiveKind::kPolygon},
                                           AxisCase{CChart::kStackedBars3d,
                                                    PrimitiveKind::kPolygon}));

TEST(ChartTest, BarsWithNegativeValuesPutTheHorizontalAxisInTheMiddle) {
  CChart chart(CChart::kBars);
  chart.AddSeries(SeriesOf({10, -40}));
  RecordingCanvas canvas({400, 300}, kMetrics);
  chart.DrawChart(canvas);
  // Plot height 254 - 45 = 209: the axis sits at 254 - 104 = 150.
  const auto lines = canvas.OfKind(PrimitiveKind::kLine);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].points, (std::vector<Point>{{38, 254}, {38, 45}}));
  EXPECT_EQ(lines[1].points, (std::vector<Point>{{38, 150}, {385, 150}}));
  // The negative bar hangs below it.
  const auto rects = canvas.OfKind(PrimitiveKind::kRectangle);
  ASSERT_EQ(rects.size(), 3u);
  EXPECT_EQ(rects[2].rect.top, 150);
  EXPECT_GT(rects[2].rect.bottom, 150);
}

}  // namespace
}  // namespace quorvel
