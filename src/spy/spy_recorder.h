#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "spy/pcapng_writer.h"

namespace quorvel {

// The packets a spy window keeps for "Save as pcapng..." may use this much
// memory; past it the oldest packets give way, so the file holds the most
// recent ones and says in its comment how many it lacks.
inline constexpr std::size_t kSpyMaxRecordedBytes = std::size_t{32} << 20;

// Appends one packet to a handed-over buffer of recorded packets: time,
// original length, captured length, bytes.
void AppendRecordedPacket(std::string& buffer, std::int64_t arrivalMicroseconds, std::uint32_t originalLength,
                          std::string_view bytes);
// The memory one recorded packet is counted with.
inline std::size_t RecordedPacketCost(std::size_t bytes) { return bytes + 48; }

// The packets kept since the window opened, oldest first, bounded by
// kSpyMaxRecordedBytes (or the bound given).
class SpyRecorder {
 public:
  explicit SpyRecorder(std::size_t maxBytes = kSpyMaxRecordedBytes) : maxBytes_(maxBytes) {}

  // Takes the packets of a handed-over buffer (see AppendRecordedPacket).
  void Add(std::string_view buffer);
  // Packets that never reached the recorder because the hand-over was full.
  void CountLost(std::uint64_t packets) { dropped_ += packets; }

  const std::deque<RecordedPacket>& Packets() const { return packets_; }
  // Packets given up to stay inside the bound.
  std::uint64_t Dropped() const { return dropped_; }
  // The file comment: empty, or how many packets are missing.
  std::string Comment() const;

 private:
  const std::size_t maxBytes_;
  std::deque<RecordedPacket> packets_;
  std::size_t bytes_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace quorvel
