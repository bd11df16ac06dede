#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/flow_rows.h"
#include "persistence/traffic_log.h"

namespace quorvel {

// Appends one CSV record (RFC 4180): fields separated by commas, a field
// holding a comma, quote, CR or LF put in quotes with its quotes doubled,
// the record ended by CR LF. Text is passed through as UTF-8.
void AppendCsvRecord(std::string& out, const std::vector<std::string_view>& fields);

// The header of the list exports: the nine column titles, then the raw
// byte counts "DL bytes" and "UL bytes".
void AppendFlowListCsvHeader(std::string& out);

// The flow list rows as shown, top to bottom, with their byte counts.
std::string FlowRowsCsv(const std::vector<const FlowRow*>& rows);

// A traffic log's rows as shown. A log keeps only the shown texts, so the
// two byte-count columns stay empty.
std::string LogRowsCsv(const std::vector<LogRow>& rows);

}  // namespace quorvel
