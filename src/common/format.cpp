#include "common/format.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace quorvel {
namespace {

// "%.2f" plus a unit, independent of the locale: the texts are parsed back
// and stored in logs, and a desktop session may use a decimal comma.
std::string FixedTwoDecimals(double value, const char* unit) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text - 8, value, std::chars_format::fixed, 2);
  std::string formatted(text, result.ptr);
  formatted += unit;
  return formatted;
}

}  // namespace

std::string FormatBytes(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  if (bytes < 1048576) return FixedTwoDecimals(static_cast<double>(bytes) / 1024.0, " KB");
  return FixedTwoDecimals(static_cast<double>(bytes) / 1048576.0, " MB");
}

std::string FormatTimestamp(std::int64_t secondsSince1970) {
  int year = 0, month = 0, day = 0, hour = -1, minute = -1, second = -1;
  const std::time_t time = static_cast<std::time_t>(secondsSince1970);
  std::tm local{};
  if (localtime_r(&time, &local) != nullptr) {
    year = local.tm_year + 1900;
    month = local.tm_mon + 1;
    day = local.tm_mday;
    hour = local.tm_hour;
    minute = local.tm_min;
    second = local.tm_sec;
  }
  char text[96];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute,
                second);
  return text;
}

}  // namespace quorvel
