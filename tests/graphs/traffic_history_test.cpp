#include "graphs/traffic_history.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "graphs/recording_canvas.h"
#include "shape_printers.h"

namespace quorvel {
namespace {

// The toolbar's strip: 200 pixels wide, 48 high; 196 samples; mid = 24.
constexpr Size kStrip{200, 48};
constexpr int kLength = 196;

struct Graph {
  std::vector<Primitive> lines, texts;
  std::size_t primitivesOnTarget = 0;
};

// What went onto the off-screen image, which must be the strip's size and be
// copied onto the target at its origin.
Graph Draw(const TrafficHistory& history) {
  RecordingCanvas target(kStrip, {6, 12, 14});
  history.DrawHistoryGraph(target);
  Graph graph{{}, {}, target.Primitives().size()};
  if (graph.primitivesOnTarget != 1) return graph;
  const Primitive& copy = target.Primitives().front();
  EXPECT_EQ(copy.kind, PrimitiveKind::kImage);
  EXPECT_EQ(copy.points.front(), (Point{0, 0}));
  EXPECT_EQ(copy.imageSize, kStrip);
  for (const Primitive& p : copy.image) (p.kind == PrimitiveKind::kText ? graph.texts : graph.lines).push_back(p);
  return graph;
}

std::vector<Point> Bar(int x, int fromY, int toY) { return {{x, fromY}, {x, toY}}; }

TEST(TrafficHistoryTest, MiddleLineAndCaptionsCentredInTheirColoursOnBlack) {
  TrafficHistory history(TrafficHistory::LengthForWindowWidth(kStrip.width));
  Graph graph = Draw(history);
  ASSERT_EQ(graph.lines.size(), 1u);
  EXPECT_EQ(graph.lines[0].points, (std::vector<Point>{{2, 24}, {198, 24}}));
  EXPECT_EQ(graph.lines[0].pen, (Pen{{155, 155, 0}, 1, PenStyle::kSolid}));
  ASSERT_EQ(graph.texts.size(), 2u);
  EXPECT_EQ(graph.texts[0].text, "");  // until the first tick

  history.AppendHistorySample(0, 0);
  graph = Draw(history);
  ASSERT_EQ(graph.texts.size(), 2u);
  const struct { const char* text; Point at; Color color; } expected[] = {
      {"max DL 0 B/s", {100, 10}, {100, 255, 100}}, {"max UL 0 B/s", {100, 35}, {50, 230, 255}}};
  for (std::size_t i = 0; i < 2; ++i) {
    const Primitive& t = graph.texts[i];
    EXPECT_EQ(t.text, expected[i].text);
    EXPECT_EQ(t.points[0], expected[i].at);
    EXPECT_EQ(t.textColor, expected[i].color);
    EXPECT_EQ(t.font, (Font{"Arial", 12, 400, false, false, false, 0}));
    EXPECT_EQ(t.align, kAlignHCenter | kAlignTop);
    EXPECT_EQ(t.backgroundMode, BackgroundMode::kOpaque);
    EXPECT_EQ(t.backgroundColor, kBlack);
  }
}

// The newest sample at x = length + 1; each direction scaled to its own
// largest sample, which reaches the edge.
TEST(TrafficHistoryTest, DirectionsAreScaledEachToItsOwnLargestSample) {
  TrafficHistory history(kLength);
  history.AppendHistorySample(2048, 100);
  history.AppendHistorySample(1024, 50);
  const Graph graph = Draw(history);
  ASSERT_EQ(graph.lines.size(), 5u);
  const std::vector<Point> bars[] = {Bar(196, 23, 0), Bar(197, 23, 12), Bar(196, 25, 48), Bar(197, 25, 36)};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(graph.lines[i + 1].points, bars[i]) << i;
  EXPECT_EQ(graph.lines[1].pen.color, (Color{100, 255, 100}));
  EXPECT_EQ(graph.lines[3].pen.color, (Color{50, 230, 255}));
  EXPECT_EQ(history.UploadCaption(), "max UL 100 B/s");
}

TEST(TrafficHistoryTest, SamplesShiftLeftAndDropOutAfterTheHistoryLength) {
  TrafficHistory history(kLength);
  history.AppendHistorySample(2048, 0);
  history.AppendHistorySample(512, 0);
  for (int tick = 2; tick < kLength; ++tick) history.AppendHistorySample(0, 0);
  // 196 ticks in: the first sample is the oldest, at x = 2.
  Graph graph = Draw(history);
  ASSERT_EQ(graph.lines.size(), 3u);
  EXPECT_EQ(graph.lines[1].points, Bar(2, 23, 0));
  EXPECT_EQ(graph.lines[2].points, Bar(3, 23, 18));
  EXPECT_EQ(history.DownloadCaption(), "max DL 2.00 KB/s");

  history.AppendHistorySample(0, 0);  // gone: the maxima and the scale drop to what is still visible
  graph = Draw(history);
  ASSERT_EQ(graph.lines.size(), 2u);
  EXPECT_EQ(graph.lines[1].points, Bar(2, 23, 0));
  EXPECT_EQ(history.DownloadCaption(), "max DL 512 B/s");
  history.AppendHistorySample(0, 0);
  EXPECT_EQ(Draw(history).lines.size(), 1u);
  EXPECT_EQ(history.DownloadCaption(), "max DL 0 B/s");
}

TEST(TrafficHistoryTest, FrozenGraphDrawsNothingWhileTheHistoryGoesOn) {
  TrafficHistory history(kLength);
  history.SetFreezeGraph(true);
  history.AppendHistorySample(4096, 1);
  EXPECT_EQ(Draw(history).primitivesOnTarget, 0u);
  EXPECT_EQ(history.DownloadCaption(), "max DL 4.00 KB/s");
  history.SetFreezeGraph(false);
  EXPECT_EQ(Draw(history).lines.size(), 3u);
}

TEST(TrafficHistoryTest, CountsBeyond32BitsAndAZeroLengthHistory) {
  TrafficHistory history(kLength);
  history.AppendHistorySample(3'000'000'000ULL, 5'000'000'000ULL);
  EXPECT_EQ(history.DownloadCaption(), "max DL 2861.02 MB/s");
  EXPECT_EQ(history.UploadCaption(), "max UL 4768.37 MB/s");
  history.AppendHistorySample(UINT64_MAX, 0);
  EXPECT_EQ(history.MaxDownload(), UINT64_MAX);

  TrafficHistory narrow(TrafficHistory::LengthForWindowWidth(3));
  narrow.AppendHistorySample(10, 10);
  EXPECT_EQ(narrow.DownloadCaption(), "max DL 0 B/s");
  RecordingCanvas target({3, 48}, {6, 12, 14});
  narrow.DrawHistoryGraph(target);
  ASSERT_EQ(target.Primitives().size(), 1u);
  EXPECT_EQ(target.Primitives()[0].image.size(), 3u);  // middle line and two captions
}

}  // namespace
}  // namespace quorvel
