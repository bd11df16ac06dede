#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "spy/spy_batch.h"
#include "spy/spy_recorder.h"
#include "spy/spy_text.h"

namespace quorvel {

// Capture bytes held in memory (waiting for the window or for the disk)
// beyond this bound are dropped a whole packet at a time and counted: a disk
// that keeps up never lets this much gather.
inline constexpr std::size_t kSpyMaxPendingCaptureBytes = std::size_t{64} << 20;

// The bounded buffer between the capture thread and the window, and the text
// filter the capture thread applies. Its lock is held by the window only to
// swap a batch or a filter, so the capture thread never waits on the window's
// work; the window waits at most for one packet's filtering.
class SpyHandover {
 public:
  explicit SpyHandover(std::size_t maxPendingCaptureBytes = kSpyMaxPendingCaptureBytes);

  // Capture thread: a matched packet's data bytes, and its bytes from the
  // IPv4 header on with its length and arrival for the pcapng recording.
  // Returns false when the filter turned it away (neither shown, captured
  // nor recorded).
  bool Push(std::string_view dataBytes, std::string_view packetBytes = {}, std::uint32_t packetLength = 0,
            std::int64_t arrivalMicroseconds = 0);

  // Window thread: everything handed over so far. From then on packets are
  // captured exactly when `capturingAfter`. `spare`, an emptied earlier
  // batch or null, takes the place of the one returned.
  std::unique_ptr<SpyBatch> Take(std::unique_ptr<SpyBatch> spare, bool capturingAfter);
  void SetFilter(SpyTextFilter filter);
  // Any thread: capture bytes taken that have left memory (written or dropped).
  void ReleaseCaptureBytes(std::size_t bytes) { captureBytesHeld_.fetch_sub(bytes); }

 private:
  const std::size_t maxPendingCaptureBytes_;
  std::mutex mutex_;
  std::unique_ptr<SpyBatch> pending_;  // guarded by mutex_
  bool capturing_ = false;             // guarded by mutex_
  SpyTextFilter filter_;               // guarded by mutex_
  std::string scratch_;                // guarded by mutex_: the filter's folded copy
  // Capture bytes pushed and not yet released; grows only under mutex_.
  std::atomic<std::size_t> captureBytesHeld_{0};
};

}  // namespace quorvel
