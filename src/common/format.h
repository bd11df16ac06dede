#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// "%d B" below 1 KiB, "%.2f KB" below 1 MiB, "%.2f MB" above (no larger unit).
// Other code parses these texts back, so the forms are fixed. Thread-safe.
std::string FormatBytes(std::uint64_t bytes);

// Local time as "%d-%02d-%02d %02d:%02d:%02d"; "0-00-00 -1:-1:-1" when the
// value cannot be converted. Thread-safe.
std::string FormatTimestamp(std::int64_t secondsSince1970);

}  // namespace quorvel
