#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quorvel {

// True for the libpcap link types (DLT_*) that StripLinkLayer understands.
bool IsSupportedLinkType(int linkType);

// The IPv4 or IPv6 packet inside a captured frame of the given link type: its
// bytes from the IP header up to the end of what was captured. Nothing for
// frames that carry something else (ARP, ...), for link types not supported,
// and for frames too short for their link header or with no IP byte left.
// Reads only the `captured` bytes at `frame`.
std::optional<std::span<const std::uint8_t>> StripLinkLayer(int linkType, const std::uint8_t* frame,
                                                            std::size_t captured);

}  // namespace quorvel
