#include "tools/export/flow_table_csv.h"

#include <cstdio>
#include <ctime>

#include "persistence/csv_export.h"

namespace quorvel {

std::string Iso8601Utc(std::int64_t microseconds) {
  std::int64_t seconds = microseconds / 1'000'000;
  std::int64_t rest = microseconds % 1'000'000;
  if (rest < 0) {
    rest += 1'000'000;
    --seconds;
  }
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (gmtime_r(&time, &utc) == nullptr) return {};
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(rest / 1000));
  return text;
}

std::string FlowTableCsv(const FlowSnapshot& flows) {
  std::string out;
  AppendCsvRecord(out, {"local source", "local port", "remote address", "remote port", "DL bytes", "UL bytes",
                        "first activity", "last activity"});
  for (const auto& [key, flow] : flows) {
    const std::string fields[] = {std::to_string(key.localPort),    Ipv4ToText(key.remoteAddress),
                                  std::to_string(key.remotePort),   std::to_string(flow.download),
                                  std::to_string(flow.upload),      Iso8601Utc(flow.firstMicroseconds),
                                  Iso8601Utc(flow.lastMicroseconds)};
    AppendCsvRecord(out, {key.localSource, fields[0], fields[1], fields[2], fields[3], fields[4], fields[5],
                          fields[6]});
  }
  return out;
}

}  // namespace quorvel
