#include "graphs/traffic_history.h"

#include <algorithm>
#include <cstdint>

#include "common/format.h"

namespace quorvel {
namespace {

// Shifts `samples` one place towards index 0, appends `sample` and returns
// the largest sample truncated to an integer.
std::uint64_t Append(std::vector<float>& samples, std::uint64_t sample) {
  if (samples.empty()) {
    return 0;
  }
  std::copy(samples.begin() + 1, samples.end(), samples.begin());
  samples.back() = static_cast<float>(sample);
  // The largest 64-bit count rounds up to 2^64 as a float, one past what
  // converts back.
  constexpr float kTwoTo64 = 18446744073709551616.0F;
  std::uint64_t maximum = 0;
  for (const float value : samples) {
    if (static_cast<float>(maximum) < value) {
      maximum = value < kTwoTo64 ? static_cast<std::uint64_t>(value) : UINT64_MAX;
    }
  }
  return maximum;
}

float LargestSample(const std::vector<float>& samples) {
  float largest = 0.0F;
  for (const float value : samples) {
    if (value > largest) {
      largest = value;
    }
  }
  return largest;
}

Pen SolidPen(Color color) { return Pen{color, 1, PenStyle::kSolid}; }

}  // namespace

int TrafficHistory::LengthForWindowWidth(int windowWidth) { return std::max(windowWidth - 4, 0); }

TrafficHistory::TrafficHistory(int historyLength)
    : historyLength_(std::max(historyLength, 0)),
      download_(static_cast<std::size_t>(historyLength_), 0.0F),
      upload_(static_cast<std::size_t>(historyLength_), 0.0F) {}

void TrafficHistory::AppendHistorySample(std::uint64_t tickDownload, std::uint64_t tickUpload) {
  maxDownload_ = Append(download_, tickDownload);
  maxUpload_ = Append(upload_, tickUpload);
  downloadCaption_ = "max DL " + FormatBytes(maxDownload_) + "/s";
  uploadCaption_ = "max UL " + FormatBytes(maxUpload_) + "/s";
}

void TrafficHistory::DrawHistoryGraph(Canvas& target) const {
  if (freezeGraph_) {
    return;
  }
  // The window has no border, so its window and client sizes agree.
  const Size size = target.ClientSize();
  // A new image is black: the graph is designed on that field.
  const std::unique_ptr<Canvas> image = target.CreateImage(size);
  if (!image) {
    return;
  }
  Canvas& canvas = *image;
  const int mid = size.height / 2;

  const Pen previousPen = canvas.SelectPen(SolidPen(kHistoryMiddleLineColor));
  canvas.DrawLine({2, mid}, {historyLength_ + 2, mid});

  // The graph's own maxima; the integer ones are for the captions.
  const float maxDown = LargestSample(download_);
  const float maxUp = LargestSample(upload_);
  const float scaleDown = maxDown != 0.0F ? static_cast<float>(mid) / maxDown : 0.0F;
  const float scaleUp = maxUp != 0.0F ? static_cast<float>(mid) / maxUp : 0.0F;

  canvas.SelectPen(SolidPen(kHistoryDownloadColor));
  for (int i = 0; i < historyLength_; ++i) {
    const float value = download_[static_cast<std::size_t>(i)];
    if (value > 0.0F) {
      canvas.DrawLine({i + 2, mid - 1}, {i + 2, mid - static_cast<int>(scaleDown * value)});
    }
  }
  canvas.SelectPen(SolidPen(kHistoryUploadColor));
  for (int i = 0; i < historyLength_; ++i) {
    const float value = upload_[static_cast<std::size_t>(i)];
    if (value > 0.0F) {
      canvas.DrawLine({i + 2, mid + 1}, {i + 2, mid + static_cast<int>(scaleUp * value)});
    }
  }
  canvas.SelectPen(previousPen);

  Font font;
  font.face = "Arial";
  font.cellHeight = 12;
  font.weight = 400;
  const Font previousFont = canvas.SelectFont(font);
  const BackgroundMode previousMode = canvas.SetBackgroundMode(BackgroundMode::kOpaque);
  const Color previousBackground = canvas.SetBackgroundColor(kBlack);
  const TextAlign previousAlign = canvas.SetTextAlign(kAlignHCenter | kAlignTop);
  const int x = size.width / 2;
  const Color previousText = canvas.SetTextColor(kHistoryDownloadColor);
  canvas.DrawText({x, 10}, downloadCaption_);
  canvas.SetTextColor(kHistoryUploadColor);
  canvas.DrawText({x, 35}, uploadCaption_);
  canvas.SetTextColor(previousText);
  canvas.SetTextAlign(previousAlign);
  canvas.SetBackgroundColor(previousBackground);
  canvas.SetBackgroundMode(previousMode);
  canvas.SelectFont(previousFont);

  target.DrawImage({0, 0}, canvas);
}

}  // namespace quorvel
