#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graphs/canvas.h"

namespace quorvel {

// The per-second download and upload history shown as a strip: download
// bars above a middle line, upload bars below it, each direction scaled to
// its own largest sample. Callers hold statMutex around every call.
class TrafficHistory {
 public:
  // One sample per pixel of the graph window less 4 (196 for 200 pixels).
  static int LengthForWindowWidth(int windowWidth);

  explicit TrafficHistory(int historyLength);

  // One tick's byte counts: shifts both histories one place towards index
  // 0, stores the new samples at the end and rebuilds maxima and captions.
  void AppendHistorySample(std::uint64_t tickDownload, std::uint64_t tickUpload);

  // Draws the whole strip onto `target` (covering the graph window from its
  // top-left corner) through one off-screen image; nothing while frozen.
  void DrawHistoryGraph(Canvas& target) const;

  void SetFreezeGraph(bool freeze) { freezeGraph_ = freeze; }
  bool FreezeGraph() const { return freezeGraph_; }

  int HistoryLength() const { return historyLength_; }
  const std::vector<float>& DownloadHistory() const { return download_; }  // oldest first
  const std::vector<float>& UploadHistory() const { return upload_; }
  std::uint64_t MaxDownload() const { return maxDownload_; }
  std::uint64_t MaxUpload() const { return maxUpload_; }
  const std::string& DownloadCaption() const { return downloadCaption_; }  // empty until a tick
  const std::string& UploadCaption() const { return uploadCaption_; }

 private:
  int historyLength_;
  std::vector<float> download_;  // bytes per tick
  std::vector<float> upload_;
  std::uint64_t maxDownload_ = 0;  // largest sample, truncated; for the captions only
  std::uint64_t maxUpload_ = 0;
  std::string downloadCaption_;
  std::string uploadCaption_;
  bool freezeGraph_ = false;
};

inline constexpr Color kHistoryMiddleLineColor{155, 155, 0};
inline constexpr Color kHistoryDownloadColor{100, 255, 100};
inline constexpr Color kHistoryUploadColor{50, 230, 255};

}  // namespace quorvel
