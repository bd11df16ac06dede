#include "graphs/share_pie.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/ipv4.h"
#include "graphs/recording_canvas.h"
#include "shape_printers.h"

namespace quorvel {
namespace {

struct Remote {
  std::string address;
  std::uint64_t bytes;
  std::string name;  // empty: the address text
};

RemoteMap MapOf(const std::vector<Remote>& remotes) {
  RemoteMap map;
  for (const Remote& r : remotes) map[*ParseIp(r.address)] = {r.name.empty() ? r.address : r.name, r.bytes};
  return map;
}

std::vector<Remote> Numbered(int count, std::uint64_t base, std::uint64_t step) {
  std::vector<Remote> remotes;
  for (int i = 1; i <= count; ++i) remotes.push_back({"10.0.0." + std::to_string(i), base + step * i, ""});
  return remotes;
}

TEST(SharePieTest, SlicesByRankWithTruncatedPercentagesAndTheRestAsOther) {
  struct Case {
    const char* name;
    std::vector<Remote> remotes;
    std::vector<std::string> texts;  // all, or the first two and the last
    std::vector<int> values;
  };
  const Case cases[] = {
      {"nothing: one No data entry", {}, {"No data"}, {0}},
      {"one remote is the whole pie", {{"10.0.0.1", 1536, "host.example"}}, {"host.example (1.50 KB)"}, {100}},
      // 1000 / 55 = 18.18, 900 / 55 = 16.36, ..., 100 / 55 = 1.81.
      {"ten remotes, no Other", Numbered(10, 0, 100), {"10.0.0.10 (1000 B)", "10.0.0.9 (900 B)", "10.0.0.1 (100 B)"},
       {18, 16, 14, 12, 10, 9, 7, 5, 3, 1}},
      // Total 12078: 1012 / 120.78 = 8.37, ..., Other 2003 / 120.78 = 16.58.
      {"beyond ten, Other with its sum", Numbered(12, 1000, 1),
       {"10.0.0.12 (1012 B)", "10.0.0.11 (1011 B)", "Other (1.96 KB)"}, {8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 16}},
      {"equal shares in address order", {{"10.0.0.3", 700, ""}, {"10.0.0.1", 700, ""}, {"10.0.0.2", 700, ""}},
       {"10.0.0.1 (700 B)", "10.0.0.2 (700 B)", "10.0.0.3 (700 B)"}, {33, 33, 33}},
      // IPv6 remotes keep their full address apart and come after IPv4 ones.
      {"ipv6 after ipv4", {{"2001:db8::1:0", 500, ""}, {"2001:db8::1", 500, ""}, {"10.0.0.9", 500, ""}},
       {"10.0.0.9 (500 B)", "2001:db8::1 (500 B)", "2001:db8::1:0 (500 B)"}, {33, 33, 33}},
      {"remotes without bytes make no share and no Other", Numbered(12, 0, 0), {}, std::vector<int>(10, 0)},
  };
  std::unique_ptr<CChart> chart;
  BuildSharePie(MapOf({{"10.0.0.1", 10, "a-rather-long-host-name.example"}}), chart);
  const CChart* first = chart.get();
  const int longest = chart->Legend().longestTextLength;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BuildSharePie(MapOf(c.remotes), chart);  // rebuilds the same chart
    ASSERT_EQ(chart.get(), first);
    EXPECT_EQ(chart->Legend().longestTextLength, longest);  // the legend never narrows
    std::vector<int> values;
    for (const CChartPoint& point : chart->Series().at(0)->Points()) values.push_back(point.value);
    EXPECT_EQ(values, c.values);
    std::vector<std::string> texts;
    for (const CChartLegendEntry& entry : chart->Legend().entries) texts.push_back(entry.text);
    ASSERT_EQ(texts.size(), c.values.size());
    if (texts.size() > 3) texts.erase(texts.begin() + 2, texts.end() - 1);
    if (!c.texts.empty()) {
      EXPECT_EQ(texts, c.texts);
    }
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      const bool other = i == 10;
      EXPECT_EQ(chart->ColorAt(static_cast<int>(i)), other ? kSharePieOtherColor : kSharePiePalette[i]) << i;
    }
    EXPECT_EQ(chart->ColorAt(static_cast<int>(c.values.size())), kBlack);
  }

  // No data draws no slice, only its green legend box.
  BuildSharePie({}, chart);
  RecordingCanvas canvas({250, 300}, {7, 14, 16});
  chart->DrawChart(canvas);
  EXPECT_TRUE(canvas.OfKind(PrimitiveKind::kPie).empty());
  const auto rects = canvas.OfKind(PrimitiveKind::kRectangle);
  ASSERT_EQ(rects.size(), 3u);  // frame, legend, the green box
  EXPECT_EQ(rects[2].brush.color, kSharePieNoDataColor);
}

}  // namespace
}  // namespace quorvel
