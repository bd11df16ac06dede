#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quorvel {

// The Host header of an HTTP/1.x request at the start of `payload`, without
// its ":port". nullopt when the bytes do not start an HTTP/1.x request, the
// header is not among the bytes received, or it is not host-name text.
std::optional<std::string> ReadHttpHost(std::span<const std::uint8_t> payload);

// Cheap test of the first byte of a TCP payload: an HTTP method may start here.
inline bool MayStartHttpRequest(std::uint8_t first) {
  switch (first) {
    case 'G': case 'P': case 'H': case 'D': case 'O': case 'C': case 'T':
      return true;
    default:
      return false;
  }
}

}  // namespace quorvel
