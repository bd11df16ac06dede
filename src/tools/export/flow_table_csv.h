#pragma once

#include <cstdint>
#include <string>

#include "tools/export/flow_snapshot.h"

namespace quorvel {

// "2026-12-07T09:45:16.123Z" for microseconds since 1970.
std::string Iso8601Utc(std::int64_t microseconds);

// The per-flow table as CSV: the tab output's columns, then the first and
// last activity in ISO 8601 UTC.
std::string FlowTableCsv(const FlowSnapshot& flows);

}  // namespace quorvel
