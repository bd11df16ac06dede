#include "graphs/chart.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "graphs/pie_geometry.h"
#include "graphs/recording_canvas.h"
#include "shape_printers.h"

namespace quorvel {
namespace {

// What the pie tests compare of a drawing: wedges (slices and depth bands),
// polygons (band sides) and leader lines with the text drawn right after them.
struct Wedge {
  Rect box;
  Point start, end;
  Color fill;
  friend bool operator==(const Wedge&, const Wedge&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Wedge& w) {
    return out << "wedge " << w.box << " " << w.start << "->" << w.end << " " << w.fill;
  }
};
struct Shape {
  std::vector<Point> points;
  Color fill;
  friend bool operator==(const Shape&, const Shape&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Shape& s) {
    for (const Point& p : s.points) out << p << " ";
    return out << s.fill;
  }
};
struct Label {
  Point from, to, textAt;
  std::string text;
  friend bool operator==(const Label&, const Label&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Label& l) {
    return out << l.from << "->" << l.to << " \"" << l.text << "\" at " << l.textAt;
  }
};

std::vector<Wedge> Wedges(const RecordingCanvas& canvas) {
  std::vector<Wedge> found;
  for (const Primitive& p : canvas.OfKind(PrimitiveKind::kPie)) {
    found.push_back({p.rect, p.points[0], p.points[1], p.brush.color});
  }
  return found;
}

constexpr TextMetrics kMetrics{7, 14, 16};

// Half the cell height as average width: a text placed with the metrics of
// the wrong font lands elsewhere.
TextMetrics MetricsOf(const Font& font) { return {font.cellHeight / 2, font.cellHeight, font.cellHeight}; }

std::unique_ptr<CChartSeries> SeriesOf(const std::vector<int>& values) {
  auto series = std::make_unique<CChartSeries>();
  for (std::size_t i = 0; i < values.size(); ++i) series->AddPoint(static_cast<int>(i), values[i]);
  return series;
}

// Entries in order of position whatever order they were set in, widths in
// characters not bytes, and a legend that never narrows.
TEST(ChartTest, LegendEntriesByPositionCountCharactersAndSurviveNoClear) {
  CChart chart(CChart::kPie3d);
  EXPECT_EQ(chart.LegendTextAt(0), "") << "nothing at all: not even No Data";
  chart.SetLegendText(7, "Zürich (1 B)");  // 12 characters, 13 bytes
  chart.SetLegendText(2, "two");
  chart.SetColor(9, {1, 2, 3});
  EXPECT_EQ(chart.LegendTextAt(0), "Zürich (1 B)");
  EXPECT_EQ(chart.LegendTextAt(1), "two");
  EXPECT_EQ(chart.ColorAt(0), (Color{1, 2, 3}));
  chart.AddSeries(SeriesOf({1, 2, 3}));
  EXPECT_EQ(chart.Legend().longestTextLength, 12);
  chart.ClearSeries();
  EXPECT_TRUE(chart.Legend().entries.empty());
  EXPECT_EQ(chart.Legend().longestTextLength, 12);
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
  const Pen red{{255, 0, 0}, 3, PenStyle::kSolid};
  canvas.SelectPen(red);
  canvas.SelectBrush(Brush{{0, 0, 255}});
  chart.DrawChart(canvas);
  EXPECT_EQ(canvas.CurrentBrush().color, (Color{0, 0, 255})) << "the surface's brush given back";
  // Height 18 * 3 + 26 = 80; top 280 / 2 - 40 = 100; right 395 - 5 = 390;
  // left 390 - 10 * trunc(12 * 0.66) - 25 = 295. Boxes from 295 + 10 +
  // (12 / 2) * 10 to 390 - 5, 12 high.
  const auto rects = canvas.OfKind(PrimitiveKind::kRectangle);
  ASSERT_EQ(rects.size(), 5u);  // frame, legend, three colour boxes
  EXPECT_EQ(rects[0].rect, (Rect{0, 0, 400, 300}));
  EXPECT_EQ(rects[0].brush.color, kWhite);
  EXPECT_EQ(rects[0].pen, red) << "the frame in the surface's pen";
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
    const auto wedges = Wedges(canvas);
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

// The geometry every case below works from: a 400 x 300 surface, a font of
// average width 7, maximum width 14 and height 16 (label box W = 24,
// H = 22), legend texts of 10 characters and depth ratio 0.1. Then
// frame 395 x 280; plot height 230; legend left 390 - 10 * 7 - 25 = 295, so
// plot width 295 - 5 - 10 = 280; size 230, radius (230 - 72) / 3 = 52,
// depth 5; centre (5 + 140, (230 + 60) / 2) = (145, 145); the bottom face
// is centred on (150, 150).
constexpr Size kSurface{400, 300};
constexpr Rect kTopBox{93, 93, 197, 197};
constexpr Rect kBottomBox{98, 98, 202, 202};

constexpr Color kColors[] = {{200, 30, 100}, {20, 120, 255}, {90, 200, 40}, {10, 10, 10},
                             {240, 240, 240}};
// 35 darker per channel, never below 0.
constexpr Color kSides[] = {{165, 0, 65}, {0, 85, 220}, {55, 165, 5}, {0, 0, 0}, {205, 205, 205}};

struct Drawn {
  RecordingCanvas canvas{kSurface, kMetrics};
  std::vector<Wedge> wedges;
  std::vector<Shape> polygons;
  std::vector<Label> labels;
};

// Every shape is filled and outlined in one colour, leader lines are thin
// and black, and the surface's pen, brush and font end as they began.
std::unique_ptr<Drawn> DrawPie(const std::vector<int>& values) {
  CChart chart(CChart::kPie3d);
  chart.SetDepthRatio(0.1);
  auto series = std::make_unique<CChartSeries>();
  for (std::size_t i = 0; i < values.size(); ++i) {
    const int index = static_cast<int>(i);
    chart.SetLegendText(index, "legend-" + std::to_string(100 + index));
    chart.SetColor(index, kColors[i % 5]);
    series->AddPoint(index, values[i]);
  }
  chart.AddSeries(std::move(series));
  auto drawn = std::make_unique<Drawn>();
  chart.DrawChart(drawn->canvas);
  for (const Primitive& p : drawn->canvas.Primitives()) {
    if (p.kind == PrimitiveKind::kPie || p.kind == PrimitiveKind::kPolygon) {
      EXPECT_EQ(p.pen, (Pen{p.brush.color, 1, PenStyle::kSolid}));
    }
    if (p.kind == PrimitiveKind::kLine) {
      EXPECT_EQ(p.pen, (Pen{kBlack, 1, PenStyle::kSolid}));
    }
  }
  const RecordingCanvas fresh(kSurface, kMetrics);
  EXPECT_EQ(drawn->canvas.CurrentPen(), fresh.CurrentPen());
  EXPECT_EQ(drawn->canvas.CurrentBrush(), fresh.CurrentBrush());
  EXPECT_EQ(drawn->canvas.CurrentFont(), fresh.CurrentFont());
  drawn->wedges = Wedges(drawn->canvas);
  const auto& all = drawn->canvas.Primitives();
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i].kind == PrimitiveKind::kPolygon) drawn->polygons.push_back({all[i].points, all[i].brush.color});
    if (all[i].kind == PrimitiveKind::kLine && i + 1 < all.size() && all[i + 1].kind == PrimitiveKind::kText) {
      drawn->labels.push_back({all[i].points[0], all[i].points[1], all[i + 1].points[0], all[i + 1].text});
    }
  }
  return drawn;
}

struct PieCase {
  const char* name;
  std::vector<int> values;
  std::vector<Wedge> wedges;  // depth pass (bottom face) first, then the top faces
  std::vector<Shape> polygons;
  std::vector<Label> labels;
};

class PieGeometryTest : public ::testing::TestWithParam<PieCase> {};

TEST_P(PieGeometryTest, DrawsWedgesBandsAndLabelsWhereTheAnglesPutThem) {
  const PieCase& c = GetParam();
  const auto drawn = DrawPie(c.values);
  EXPECT_EQ(drawn->wedges, c.wedges);
  EXPECT_EQ(drawn->polygons, c.polygons);
  EXPECT_EQ(drawn->labels, c.labels);
}

// Rim points: angle 0 is (93, 145), 90 is (145, 197), 180 is (197, 145),
// 270 is (145, 93), 360 is (93, 144); a first slice starts at (93, 144)
// on top and (98, 149) below.
INSTANTIATE_TEST_SUITE_P(
    Slices, PieGeometryTest,
    ::testing::Values(
        // One slice ends at 360, one pixel above the left end, exactly where
        // it started: a full circle. Middle at 180: leader up and right.
        PieCase{"OneFullSlice",
                {100},
                {{kBottomBox, {98, 149}, {98, 149}, kSides[0]},
                 {kTopBox, {93, 144}, {93, 144}, kColors[0]}},
                {{{{98, 149}, {98, 149}, {93, 144}, {93, 144}}, kSides[0]}},
                {{{171, 145}, {223, 119}, {228, 97}, "100%"}}},
        // 180 and 360: the first half is in front (left, bottom, right); the
        // second lies at the back, drawn in the back colour as a wedge and a
        // triangle.
        PieCase{"HalfAndHalf",
                {50, 50},
                {{kBottomBox, {98, 149}, {202, 150}, kSides[0]},
                 {kBottomBox, {202, 150}, {98, 149}, kSides[0]},
                 {kTopBox, {93, 144}, {197, 145}, kColors[0]},
                 {kTopBox, {197, 145}, {93, 144}, kColors[1]}},
                {{{{98, 149}, {202, 150}, {197, 145}, {93, 144}}, kSides[0]},
                 {{{98, 149}, {93, 144}, {197, 145}}, kSides[0]}},
                {{{145, 171}, {171, 223}, {176, 223}, "50%"},
                 {{145, 119}, {119, 67}, {95, 45}, "50%"}}},
        // 1 of 1000 truncates to angle 0: a sliver from the lifted start to
        // the left end, labelled 0%.
        PieCase{"OneInAThousand",
                {1, 999},
                {{kBottomBox, {98, 149}, {98, 150}, kSides[0]},
                 {kBottomBox, {98, 150}, {98, 149}, kSides[1]},
                 {kTopBox, {93, 144}, {93, 145}, kColors[0]},
                 {kTopBox, {93, 145}, {93, 144}, kColors[1]}},
                {{{{98, 149}, {98, 150}, {93, 145}, {93, 144}}, kSides[0]},
                 {{{98, 150}, {98, 149}, {93, 144}, {93, 145}}, kSides[1]}},
                {{{119, 145}, {67, 171}, {43, 171}, "0%"},
                 {{171, 145}, {223, 119}, {228, 97}, "99%"}}},
        // 33 : 33 : 33 ends at 119, 239 and 360 (not 120 and 240). 119 is
        // 29 degrees into quadrant 1: (145 + 25, 145 + 45); 239 is 59 into
        // quadrant 2: (145 + 27, 145 - 45). The last slice is at the back in
        // the colour of the slice that crossed into the back half.
        PieCase{"ThreeEqual",
                {33, 33, 33},
                {{kBottomBox, {98, 149}, {175, 195}, kSides[0]},
                 {kBottomBox, {175, 195}, {177, 105}, kSides[1]},
                 {kBottomBox, {177, 105}, {98, 149}, kSides[1]},
                 {kTopBox, {93, 144}, {170, 190}, kColors[0]},
                 {kTopBox, {170, 190}, {172, 100}, kColors[1]},
                 {kTopBox, {172, 100}, {93, 144}, kColors[2]}},
                {{{{98, 149}, {175, 195}, {170, 190}, {93, 144}}, kSides[0]},
                 {{{175, 195}, {177, 105}, {172, 100}, {170, 190}}, kSides[1]},
                 {{{98, 149}, {93, 144}, {172, 100}}, kSides[1]}},
                // Middles at 61, 181 and 301.
                {{{132, 167}, {94, 216}, {70, 216}, "33%"},
                 {{171, 144}, {223, 118}, {228, 96}, "33%"},
                 {{131, 122}, {92, 74}, {68, 52}, "33%"}}},
        // A value of 0 is no slice, and the start is not lifted for it.
        PieCase{"LeadingZeroValue",
                {0, 100},
                {{kBottomBox, {98, 150}, {98, 149}, kSides[1]},
                 {kTopBox, {93, 145}, {93, 144}, kColors[1]}},
                {{{{98, 150}, {98, 149}, {93, 144}, {93, 145}}, kSides[1]}},
                {{{171, 145}, {223, 119}, {228, 97}, "100%"}}},
        // A last slice of 1 has its middle at 360, which belongs to the
        // top-left quadrant: its label goes up and left, not off a table.
        PieCase{"LastSliceOfOne",
                {99, 1},
                {{kBottomBox, {98, 149}, {98, 146}, kSides[0]},
                 {kBottomBox, {98, 146}, {98, 149}, kSides[0]},
                 {kTopBox, {93, 144}, {93, 141}, kColors[0]},
                 {kTopBox, {93, 141}, {93, 144}, kColors[1]}},
                {{{{98, 149}, {98, 146}, {93, 141}, {93, 144}}, kSides[0]},
                 {{{98, 149}, {93, 144}, {93, 141}}, kSides[0]}},
                {{{171, 145}, {223, 119}, {228, 97}, "99%"},
                 {{119, 144}, {67, 118}, {43, 96}, "1%"}}}),
    [](const ::testing::TestParamInfo<PieCase>& param) { return param.param.name; });

TEST(PieChartTest, ManySmallSlicesPushLaterLabelsDownOffEarlierOnes) {
  const auto drawn = DrawPie({1, 1, 1, 1, 96});
  // Unmoved, the third label's text would be at (44, 180) inside the first
  // label's box (43..67, 174..196): it moves to 174 + 22 = 196, which falls
  // in the second one's (177..199), so on to 199; the fourth, from
  // (45, 184), takes the same two steps. The first two share x = 43, which
  // the strict test does not count as an overlap.
  EXPECT_EQ(drawn->labels, (std::vector<Label>{{{119, 146}, {67, 174}, {43, 174}, "1%"},
                                               {{119, 148}, {67, 177}, {43, 177}, "1%"},
                                               {{119, 149}, {68, 199}, {44, 199}, "1%"},
                                               {{120, 151}, {69, 199}, {45, 199}, "1%"},
                                               {{171, 142}, {223, 113}, {228, 91}, "96%"}}));
}

TEST(PieChartTest, ValuesOfZeroOrLessAreNoSlicesAndDoNotShrinkThePie) {
  for (const auto& values : {std::vector<int>{0, 0}, std::vector<int>{-5, 0}}) {
    const auto drawn = DrawPie(values);
    EXPECT_TRUE(drawn->wedges.empty());
    EXPECT_TRUE(drawn->canvas.OfKind(PrimitiveKind::kLine).empty());
    // Only the legend's heading and entries are written.
    EXPECT_EQ(drawn->canvas.OfKind(PrimitiveKind::kText).size(), 1 + values.size());
  }
  // Left out of the total as well as of the slices, so 50 is the whole pie.
  const auto drawn = DrawPie({-50, 50});
  ASSERT_EQ(drawn->labels.size(), 1u);
  EXPECT_EQ(drawn->labels[0].text, "100%");
  EXPECT_EQ(drawn->wedges.back(), (Wedge{kTopBox, {93, 145}, {93, 144}, kColors[1]}));
}

TEST(PieGeometry, LabelsInTheUpperHalfMoveUpOffEachEarlierBoxInTurn) {
  // W = 24, H = 22. The last one falls into the first box (50..74, 100..122),
  // moves to 100 - 22 = 78, which is inside the second (70..92), and so on
  // to 48; its outer point follows the box it moved off.
  // {inner, outer, text position, quadrant, text}
  std::vector<CChartSliceLabel> labels = {
      {{}, {74, 122}, {50, 100}, 3, ""}, {{}, {79, 92}, {55, 70}, 3, ""}, {{}, {55, 132}, {60, 110}, 2, ""}};
  SeparateSliceLabels(labels, 24, 22);
  EXPECT_EQ(labels[0].textPosition, (Point{50, 100}));
  EXPECT_EQ(labels[1].textPosition, (Point{55, 70}));
  EXPECT_EQ(labels[2].textPosition, (Point{60, 48}));
  EXPECT_EQ(labels[2].outer, (Point{55, 70}));
}

}  // namespace
}  // namespace quorvel
