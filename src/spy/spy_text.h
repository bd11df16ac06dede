#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ip_address.h"
#include "engine/spy_feed.h"

namespace quorvel {

// The remote end as the flow list names it: "10.0.0.5: 443", "2001:db8::1: 443".
std::string SpyKeyText(const IpAddress& remoteAddress, std::uint32_t remotePort);

// The bytes of a packet that the spy shows and captures: from the data
// pointer on, at most `length` of them and none at or past receivedEnd.
// Empty when a pointer is missing or the end lies before the data.
std::string_view SpyDataBytes(const SpyPacket& packet);

// The packet's bytes from its IPv4 header on, as many as its length and
// never past the end of what was received; empty when the start is unknown.
std::string_view SpyPacketBytes(const SpyPacket& packet);

// The character a data byte shows as in a line (NUL as ".").
inline char SpyLineChar(char byte) { return byte == '\0' ? '.' : byte; }

// "Copy All packets": every line followed by one LF, in list order.
std::string JoinSpyLines(const std::vector<std::string>& lines);

// "Filter only packets with text": a packet passes when its line contains the
// text, the letters a to z folded to capitals on both sides.
class SpyTextFilter {
 public:
  SpyTextFilter() = default;  // lets every packet pass
  // `text` is UTF-8; an empty text or an unchecked box lets every packet pass.
  SpyTextFilter(bool enabled, std::string_view text);

  // `scratch` is storage the caller keeps between calls, so that the
  // capture thread does not allocate per packet.
  bool Passes(std::string_view dataBytes, std::string& scratch) const;

 private:
  bool active_ = false;
  // The text holds a character no line can hold (above U+00FF, or NUL,
  // which lines show as "."): nothing passes.
  bool unmatchable_ = false;
  std::string folded_;  // Latin-1, capitals
};

}  // namespace quorvel
