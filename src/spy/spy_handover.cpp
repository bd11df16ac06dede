#include "spy/spy_handover.h"

namespace quorvel {

SpyHandover::SpyHandover(std::size_t maxPendingCaptureBytes)
    : maxPendingCaptureBytes_(maxPendingCaptureBytes), pending_(std::make_unique<SpyBatch>()) {}

bool SpyHandover::Push(std::string_view dataBytes, std::string_view packetBytes, std::uint32_t packetLength,
                       std::int64_t arrivalMicroseconds) {
  std::lock_guard lock(mutex_);
  if (!filter_.Passes(dataBytes, scratch_)) return false;
  SpyBatch& batch = *pending_;
  batch.AddLine(dataBytes);
  if (packetLength > 0) {
    // A window that stops draining cannot make this grow past the recorder's own bound.
    if (batch.recorded.size() + RecordedPacketCost(packetBytes.size()) <= kSpyMaxRecordedBytes) {
      AppendRecordedPacket(batch.recorded, arrivalMicroseconds, packetLength, packetBytes);
    } else {
      ++batch.droppedRecordedPackets;
    }
  }
  if (capturing_) {
    const std::size_t size = dataBytes.size() + 1;
    if (captureBytesHeld_.load() + size <= maxPendingCaptureBytes_) {
      captureBytesHeld_.fetch_add(size);
      batch.capture.append(dataBytes);
      batch.capture.push_back('\n');
      ++batch.capturedPackets;
    } else {
      ++batch.droppedCapturePackets;
    }
  }
  return true;
}

std::unique_ptr<SpyBatch> SpyHandover::Take(std::unique_ptr<SpyBatch> spare, bool capturingAfter) {
  if (!spare) spare = std::make_unique<SpyBatch>();
  spare->Reset();
  std::lock_guard lock(mutex_);
  pending_.swap(spare);
  capturing_ = capturingAfter;
  return spare;
}

void SpyHandover::SetFilter(SpyTextFilter filter) {
  std::lock_guard lock(mutex_);
  std::swap(filter_, filter);
  // The old filter is freed after the lock is released.
}

}  // namespace quorvel
