#include "spy/spy_batch.h"

#include <algorithm>
#include <cstring>


namespace quorvel {
namespace {

// Copies the bytes and shows NUL as "."; memchr keeps text without NULs at
// the speed of a copy.
void AssignLine(std::string& slot, std::string_view dataBytes) {
  slot.assign(dataBytes);
  char* next = slot.data();
  char* const end = next + slot.size();
  while (next != end) {
    next = static_cast<char*>(std::memchr(next, '\0', static_cast<std::size_t>(end - next)));
    if (next == nullptr) break;
    *next++ = '.';
  }
}

}  // namespace

std::size_t SpyBatch::RecentCount() const {
  return static_cast<std::size_t>(std::min<std::uint64_t>(lineCount, kSpyListCapacity));
}

std::string& SpyBatch::Recent(std::size_t index) {
  const std::uint64_t line = lineCount - RecentCount() + index;
  return last[static_cast<std::size_t>(line % kSpyListCapacity)];
}

void SpyBatch::AddLine(std::string_view dataBytes) {
  if (lineCount < kSpyListCapacity) AssignLine(first[static_cast<std::size_t>(lineCount)], dataBytes);
  AssignLine(last[static_cast<std::size_t>(lineCount % kSpyListCapacity)], dataBytes);
  ++lineCount;
}

void SpyBatch::Reset() {
  lineCount = 0;
  capture.clear();
  capturedPackets = 0;
  droppedCapturePackets = 0;
  recorded.clear();
  droppedRecordedPackets = 0;
}

}  // namespace quorvel
