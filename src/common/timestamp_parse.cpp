#include "common/timestamp_parse.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace quorvel {

std::optional<std::int64_t> ParseTimestamp(std::string_view text) {
  const std::string terminated(text);
  std::tm local{};
  if (std::sscanf(terminated.c_str(), "%d-%d-%d %d:%d:%d", &local.tm_year, &local.tm_mon,
                  &local.tm_mday, &local.tm_hour, &local.tm_min, &local.tm_sec) != 6) {
    return std::nullopt;
  }
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  const std::time_t time = std::mktime(&local);
  if (time == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(time);
}

}  // namespace quorvel
