#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Longest host name kept from traffic, in characters.
inline constexpr std::size_t kMaxObservedNameLength = 253;

// A host name taken from traffic as shown: lower case, cut at
// kMaxObservedNameLength, without a trailing dot. nullopt unless it is
// printable host-name text: letters, digits, "-", "_" and "." only, with no
// empty label.
std::optional<std::string> CleanHostName(std::string_view raw);

// True for the bytes a host name label may hold (before lower-casing).
bool IsHostNameByte(unsigned char byte);

}  // namespace quorvel
