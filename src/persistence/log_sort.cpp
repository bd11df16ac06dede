#include "persistence/log_sort.h"

#include "common/text_order.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numeric>
#include <string>

namespace quorvel {
namespace {

// Byte columns: DL, UL, DL & UL.
bool IsByteColumn(std::size_t column) { return column >= 2 && column <= 4; }


template <typename Key, typename Make>
void SortByKey(std::vector<LogRow>& rows, Make make) {
  std::vector<Key> keys;
  keys.reserve(rows.size());
  for (const LogRow& row : rows) keys.push_back(make(row));
  std::vector<std::size_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&keys](std::size_t a, std::size_t b) { return keys[b] < keys[a]; });
  std::vector<LogRow> sorted;
  sorted.reserve(rows.size());
  for (const std::size_t index : order) sorted.push_back(std::move(rows[index]));
  rows = std::move(sorted);
}

}  // namespace

double LogByteTextValue(std::string_view text) {
  const auto parsed = ParseByteText(text);
  if (!parsed) return 0;
  switch (parsed->unit) {
    case 'K':
      return parsed->number * 1024.0;
    case 'M':
      return parsed->number * 1048576.0;
    case 'G':
      return parsed->number * 1073741824.0;
    default:
      return parsed->number;
  }
}

void SortLogRows(std::vector<LogRow>& rows, std::size_t column) {
  if (column >= kLogFieldCount) return;
  if (IsByteColumn(column)) {
    SortByKey<double>(rows, [column](const LogRow& row) { return LogByteTextValue(row[column]); });
  } else {
    SortByKey<std::string>(rows, [column](const LogRow& row) { return CollationKey(row[column]); });
  }
}

}  // namespace quorvel
