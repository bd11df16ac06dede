#include "mainwindow/format.h"

#include <cstdio>
#include <ctime>

namespace quorvel {

std::string FormatBytes(std::uint64_t bytes) {
  char text[64];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1048576) {
    std::snprintf(text, sizeof text, "%.2f KB", static_cast<double>(bytes) / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1048576.0);
  }
  return text;
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
