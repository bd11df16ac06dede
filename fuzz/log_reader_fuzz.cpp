// Any traffic log reads and sorts without fault, and its rows are written
// and read back unchanged (the writer puts the bottom row first).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "persistence/log_sort.h"
#include "persistence/traffic_log.h"

using quorvel::LogRow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<LogRow> rows = quorvel::ReadTrafficLogText(bytes);

  const std::string file = quorvel::FormatTrafficLog(rows);
  std::vector<LogRow> again = quorvel::ReadTrafficLogText(file);
  std::reverse(again.begin(), again.end());
  FUZZ_CHECK(again == rows);

  std::vector<LogRow> sorted = rows;
  quorvel::SortLogRows(sorted, size % quorvel::kLogFieldCount);
  FUZZ_CHECK(sorted.size() == rows.size());

  const std::string display = quorvel::LogDisplayName(bytes.substr(0, 256));
  if (const auto name = quorvel::LogFileNameFor(display))
    FUZZ_CHECK(quorvel::LogDisplayName(*name) == display);
  return 0;
}
