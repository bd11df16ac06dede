#include "graphs/share_pie.h"

#include <algorithm>
#include <string>
#include <vector>

#include "common/format.h"

namespace quorvel {
namespace {

constexpr std::size_t kSliceCount = 10;

struct Ranked {
  std::uint64_t bytes;
  Ipv4Address address;
  const std::string* name;  // borrowed from the map for the length of the build
};

// Truncated toward zero. Remotes that carry no bytes at all make no share.
int Percent(std::uint64_t bytes, float total) {
  if (!(total > 0.0F)) {
    return 0;
  }
  return static_cast<int>(static_cast<float>(bytes) / (total * 0.01F));
}

std::string SliceLabel(const std::string& name, std::uint64_t bytes) {
  return name + " (" + FormatBytes(bytes) + ")";
}

}  // namespace

void BuildSharePie(const RemoteMap& remotes, std::unique_ptr<CChart>& chart) {
  if (!chart) {
    chart = std::make_unique<CChart>(CChart::kPie3d);
    chart->SetDepthRatio(0.1);
  } else {
    chart->ClearSeries();
  }

  std::vector<Ranked> ranked;
  ranked.reserve(remotes.size());
  float total = 0.0F;
  std::uint64_t exactTotal = 0;
  for (const auto& [address, remote] : remotes) {
    total += static_cast<float>(remote.bytes);
    exactTotal += remote.bytes;
    ranked.push_back({remote.bytes, address, &remote.displayName});
  }

  // Only the top ten need an order. Ties go by address so that equal
  // remotes keep their places from one second to the next.
  const std::size_t shown = std::min(ranked.size(), kSliceCount);
  std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(shown),
                    ranked.end(), [](const Ranked& a, const Ranked& b) {
                      if (a.bytes != b.bytes) {
                        return a.bytes > b.bytes;
                      }
                      return MakeIpv4Number(a.address) < MakeIpv4Number(b.address);
                    });

  auto series = std::make_unique<CChartSeries>();
  std::uint64_t shownBytes = 0;
  for (std::size_t i = 0; i < shown; ++i) {
    const int index = static_cast<int>(i);
    chart->SetLegendText(index, SliceLabel(*ranked[i].name, ranked[i].bytes));
    chart->SetColor(index, kSharePiePalette[i]);
    series->AddPoint(index, Percent(ranked[i].bytes, total));
    shownBytes += ranked[i].bytes;
  }
  const std::uint64_t rest = exactTotal - shownBytes;
  if (rest > 0) {
    const int index = static_cast<int>(kSliceCount);
    chart->SetLegendText(index, SliceLabel("Other", rest));
    chart->SetColor(index, kSharePieOtherColor);
    series->AddPoint(index, Percent(rest, total));
  }
  if (series->GetCount() == 0) {
    chart->SetLegendText(0, "No data");
    chart->SetColor(0, kSharePieNoDataColor);
    series->AddPoint(0, 0);
  }
  chart->AddSeries(std::move(series));
}

}  // namespace quorvel
