#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// The packet list holds at most 26 lines: while not frozen the 27th packet
// empties it and becomes its first line; while frozen lines stop at 26.
inline constexpr std::size_t kSpyListCapacity = 26;

// What the capture thread handed over since the window last drained. Of many
// lines only the first 26 (all a frozen list can still take) and the last 26
// (all a list that keeps emptying can end with) can ever be shown, so the
// lines in between are dropped; the count keeps the 26-line rule exact.
// Capture bytes are kept whole, up to a bound.
struct SpyBatch {
  std::array<std::string, kSpyListCapacity> first;  // lines 0 to 25
  std::array<std::string, kSpyListCapacity> last;   // ring: line i at i % 26
  std::uint64_t lineCount = 0;
  // Data bytes and one LF per captured packet, as handed over (not yet CR LF).
  std::string capture;
  std::uint64_t capturedPackets = 0;
  std::uint64_t droppedCapturePackets = 0;  // over the bound
  // Packets for a pcapng file (AppendRecordedPacket), up to the recorder's bound.
  std::string recorded;
  std::uint64_t droppedRecordedPackets = 0;

  // Line `index` of the last min(lineCount, 26) lines, oldest first.
  std::string& Recent(std::size_t index);
  std::size_t RecentCount() const;
  // Adds the line of `dataBytes` (NUL shown as "."), reusing the slots' storage.
  void AddLine(std::string_view dataBytes);
  // Empties the batch and keeps its storage.
  void Reset();
};

}  // namespace quorvel
