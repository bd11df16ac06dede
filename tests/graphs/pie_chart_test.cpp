#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "graphs/chart.h"
#include "graphs/pie_geometry.h"
#include "graphs/recording_canvas.h"
#include "recorded_shapes.h"

namespace quorvel {
namespace {

using testing::Label;
using testing::Shape;
using testing::Wedge;

// The geometry every case below works from: a 400 x 300 surface, a font of
// average width 7, maximum width 14 and height 16 (label box W = 24,
// H = 22), legend texts of 10 characters and depth ratio 0.1. Then
// frame 395 x 280; plot height 230; legend left 390 - 10 * 7 - 25 = 295, so
// plot width 295 - 5 - 10 = 280; size 230, radius (230 - 72) / 3 = 52,
// depth 5; centre (5 + 140, (230 + 60) / 2) = (145, 145); the bottom face
// is centred on (150, 150).
constexpr Size kSurface{400, 300};
constexpr TextMetrics kMetrics{7, 14, 16};
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
  drawn->wedges = testing::Wedges(drawn->canvas);
  drawn->polygons = testing::Polygons(drawn->canvas);
  drawn->labels = testing::SliceLabels(drawn->canvas);
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
  // Slice edges at 3, 7, 10, 14 and 360 degrees.
  ASSERT_EQ(drawn->wedges.size(), 10u);
  const std::vector<Wedge> tops(drawn->wedges.begin() + 5, drawn->wedges.end());
  EXPECT_EQ(tops, (std::vector<Wedge>{{kTopBox, {93, 144}, {93, 148}, kColors[0]},
                                      {kTopBox, {93, 148}, {93, 151}, kColors[1]},
                                      {kTopBox, {93, 151}, {94, 154}, kColors[2]},
                                      {kTopBox, {94, 154}, {95, 158}, kColors[3]},
                                      {kTopBox, {95, 158}, {93, 144}, kColors[4]}}));
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
