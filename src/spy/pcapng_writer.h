#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace quorvel {

// One packet as the spy keeps it for a pcapng file: its bytes from the IPv4
// header on and when it arrived.
struct RecordedPacket {
  std::int64_t arrivalMicroseconds = 0;  // since 1970 UTC
  std::uint32_t originalLength = 0;      // the IPv4 total length
  std::string bytes;                     // at most originalLength bytes
};

// A pcapng file (little-endian): a section header block with the program's
// name and, when not empty, a comment; one interface description block of
// link type raw IP (101) with microsecond times; one enhanced packet block
// per packet.
std::string PcapngBytes(const std::deque<RecordedPacket>& packets, std::string_view comment);

}  // namespace quorvel
