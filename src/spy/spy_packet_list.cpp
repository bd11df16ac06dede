#include "spy/spy_packet_list.h"

#include <algorithm>

#include "spy/spy_text.h"

namespace quorvel {

void SpyPacketList::Empty() {
  lines_.clear();
  extent_ = 0;
  ++epoch_;
}

void SpyPacketList::Add(std::string line) {
  if (!frozen_ && lines_.size() >= kSpyListCapacity) Empty();
  if (lines_.size() >= kSpyListCapacity) return;
  // Lines hold one character per data byte, and data bytes are at most 65535.
  extent_ = std::max(extent_, kSpyPixelsPerByte * static_cast<int>(line.size()));
  lines_.push_back(std::move(line));
}

bool SpyPacketList::Apply(SpyBatch& batch) {
  if (batch.lineCount == 0) return false;
  const std::uint64_t held = lines_.size();
  if (frozen_ || held + batch.lineCount <= kSpyListCapacity) {
    // No emptying: only the first lines can land, and a frozen list takes
    // only as many as it has room for.
    const std::size_t room = kSpyListCapacity - lines_.size();
    if (room == 0) return false;
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(batch.lineCount, room));
    for (std::size_t i = 0; i < count; ++i) Add(std::move(batch.first[i]));
    return true;
  }
  // The list empties every 26 lines; it ends with the packets since the last
  // emptying, all of them among the batch's last 26.
  const auto kept = static_cast<std::size_t>((held + batch.lineCount - 1) % kSpyListCapacity + 1);
  Empty();
  const std::size_t recent = batch.RecentCount();
  for (std::size_t i = recent - kept; i < recent; ++i) {
    Add(std::move(batch.Recent(i)));
  }
  return true;
}

void SpyPacketList::Clear() { Empty(); }

std::string SpyPacketList::CopyAllText() const { return JoinSpyLines(lines_); }

}  // namespace quorvel
