#include "persistence/csv_export.h"

namespace quorvel {
namespace {

constexpr const char* kColumnTitles[kFlowColumnCount] = {
    "Remote IP: port", "Remote host",    "DL",           "UL",       "DL & UL", "Local source(PID): port",
    "First activity",  "Last activity", "Full path"};

}  // namespace

void AppendCsvRecord(std::string& out, const std::vector<std::string_view>& fields) {
  bool first = true;
  for (const std::string_view field : fields) {
    if (!first) out.push_back(',');
    first = false;
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
      out.append(field);
      continue;
    }
    out.push_back('"');
    for (const char c : field) {
      if (c == '"') out.push_back('"');
      out.push_back(c);
    }
    out.push_back('"');
  }
  out.append("\r\n");
}

void AppendFlowListCsvHeader(std::string& out) {
  std::vector<std::string_view> titles(std::begin(kColumnTitles), std::end(kColumnTitles));
  titles.push_back("DL bytes");
  titles.push_back("UL bytes");
  AppendCsvRecord(out, titles);
}

std::string FlowRowsCsv(const std::vector<const FlowRow*>& rows) {
  std::string out;
  AppendFlowListCsvHeader(out);
  std::vector<std::string_view> fields;
  for (const FlowRow* row : rows) {
    const std::string download = std::to_string(row->download);
    const std::string upload = std::to_string(row->upload);
    fields.assign(row->columns.begin(), row->columns.end());
    fields.push_back(download);
    fields.push_back(upload);
    AppendCsvRecord(out, fields);
  }
  return out;
}

std::string LogRowsCsv(const std::vector<LogRow>& rows) {
  std::string out;
  AppendFlowListCsvHeader(out);
  std::vector<std::string_view> fields;
  for (const LogRow& row : rows) {
    fields.assign(row.begin(), row.end());
    fields.push_back({});
    fields.push_back({});
    AppendCsvRecord(out, fields);
  }
  return out;
}

}  // namespace quorvel
