#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvel {

// Reads a FormatTimestamp text back ("%d-%d-%d %d:%d:%d", local time, the
// system deciding daylight saving); nullopt when it does not convert.
std::optional<std::int64_t> ParseTimestamp(std::string_view text);

}  // namespace quorvel
