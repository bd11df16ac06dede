#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/ipv4.h"
#include "graphs/recording_canvas.h"
#include "graphs/share_pie.h"
#include "recorded_shapes.h"

namespace quorvel {
namespace {

void Add(RemoteMap& map, std::uint8_t last, std::uint64_t bytes, std::string name = {}) {
  const Ipv4Address address = MakeIpv4(10, 0, 0, last);
  map[address] = {name.empty() ? Ipv4ToText(address) : std::move(name), bytes};
}

std::vector<std::string> LegendTexts(const CChart& chart) {
  std::vector<std::string> texts;
  for (const CChartLegendEntry& entry : chart.Legend().entries) {
    texts.push_back(entry.text);
  }
  return texts;
}

std::vector<int> Values(const CChart& chart) {
  std::vector<int> values;
  for (const CChartPoint& point : chart.Series().at(0)->Points()) {
    values.push_back(point.value);
  }
  return values;
}

TEST(SharePieTest, EmptyMapGivesOneNoDataEntryAndNoSlice) {
  std::unique_ptr<CChart> chart;
  BuildSharePie({}, chart);
  ASSERT_NE(chart, nullptr);
  EXPECT_EQ(chart->GetChartType(), CChart::kPie3d);
  EXPECT_EQ(chart->DepthRatio(), 0.1);
  EXPECT_EQ(LegendTexts(*chart), std::vector<std::string>{"No data"});
  EXPECT_EQ(chart->ColorAt(0), (Color{0, 192, 0}));
  EXPECT_EQ(Values(*chart), std::vector<int>{0});

  RecordingCanvas canvas({250, 300}, {7, 14, 16});
  chart->DrawChart(canvas);
  EXPECT_TRUE(canvas.OfKind(PrimitiveKind::kPie).empty());
  const auto rects = canvas.OfKind(PrimitiveKind::kRectangle);
  ASSERT_EQ(rects.size(), 3u);  // frame, legend, the green box
  EXPECT_EQ(rects[2].brush.color, (Color{0, 192, 0}));
}

TEST(SharePieTest, OneRemoteIsTheWholePie) {
  RemoteMap map;
  Add(map, 1, 1536, "host.example");
  std::unique_ptr<CChart> chart;
  BuildSharePie(map, chart);
  EXPECT_EQ(LegendTexts(*chart), std::vector<std::string>{"host.example (1.50 KB)"});
  EXPECT_EQ(Values(*chart), std::vector<int>{100});
  EXPECT_EQ(chart->ColorAt(0), (Color{0, 192, 0}));
}

TEST(SharePieTest, TenRemotesAreTenSlicesInPaletteOrderWithoutOther) {
  RemoteMap map;
  for (std::uint8_t i = 1; i <= 10; ++i) {
    Add(map, i, std::uint64_t{i} * 100);  // 5500 bytes in all
  }
  std::unique_ptr<CChart> chart;
  BuildSharePie(map, chart);
  const std::vector<std::string> texts = LegendTexts(*chart);
  ASSERT_EQ(texts.size(), 10u);
  EXPECT_EQ(texts.front(), "10.0.0.10 (1000 B)");
  EXPECT_EQ(texts.back(), "10.0.0.1 (100 B)");
  // 1000 / 55 = 18.18, 900 / 55 = 16.36, ..., 100 / 55 = 1.81, truncated.
  EXPECT_EQ(Values(*chart), (std::vector<int>{18, 16, 14, 12, 10, 9, 7, 5, 3, 1}));
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(chart->ColorAt(i), kSharePiePalette[i]) << i;
  }
  EXPECT_EQ(chart->ColorAt(10), kBlack);
}

TEST(SharePieTest, BeyondTenTheRestIsOneOtherSliceWithItsSum) {
  RemoteMap map;
  for (std::uint8_t i = 1; i <= 12; ++i) {
    Add(map, i, 1000 + std::uint64_t{i});
  }
  std::unique_ptr<CChart> chart;
  BuildSharePie(map, chart);
  const std::vector<std::string> texts = LegendTexts(*chart);
  ASSERT_EQ(texts.size(), 11u);
  EXPECT_EQ(texts[0], "10.0.0.12 (1012 B)");
  EXPECT_EQ(texts[9], "10.0.0.3 (1003 B)");
  EXPECT_EQ(texts[10], "Other (1.96 KB)");  // 1001 + 1002 = 2003 bytes
  EXPECT_EQ(chart->Legend().entries[10].index, 10);
  EXPECT_EQ(chart->ColorAt(10), (Color{255, 226, 177}));
  // Total 12078: 1012 / 120.78 = 8.37, 2003 / 120.78 = 16.58.
  const std::vector<int> values = Values(*chart);
  ASSERT_EQ(values.size(), 11u);
  EXPECT_EQ(values[0], 8);
  EXPECT_EQ(values[10], 16);
}

TEST(SharePieTest, EqualRemotesShareEquallyInAddressOrder) {
  RemoteMap map;
  Add(map, 3, 700);
  Add(map, 1, 700);
  Add(map, 2, 700);
  std::unique_ptr<CChart> chart;
  BuildSharePie(map, chart);
  EXPECT_EQ(Values(*chart), (std::vector<int>{33, 33, 33}));
  EXPECT_EQ(LegendTexts(*chart),
            (std::vector<std::string>{"10.0.0.1 (700 B)", "10.0.0.2 (700 B)", "10.0.0.3 (700 B)"}));
}

TEST(SharePieTest, RebuildReplacesTheEntriesOfTheSameChart) {
  RemoteMap map;
  Add(map, 1, 10, "a-rather-long-host-name.example");
  std::unique_ptr<CChart> chart;
  BuildSharePie(map, chart);
  const CChart* first = chart.get();
  const int longest = chart->Legend().longestTextLength;

  map.clear();
  Add(map, 2, 20, "short");
  BuildSharePie(map, chart);
  EXPECT_EQ(chart.get(), first);
  EXPECT_EQ(LegendTexts(*chart), std::vector<std::string>{"short (20 B)"});
  EXPECT_EQ(chart->Series().size(), 1u);
  EXPECT_EQ(chart->PointCount(), 1);
  // The legend never narrows.
  EXPECT_EQ(chart->Legend().longestTextLength, longest);

  // Remotes without bytes make no share and no "Other".
  map.clear();
  for (std::uint8_t i = 1; i <= 12; ++i) Add(map, i, 0);
  BuildSharePie(map, chart);
  EXPECT_EQ(Values(*chart), std::vector<int>(10, 0));
}

}  // namespace
}  // namespace quorvel
