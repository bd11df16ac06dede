#include "persistence/log_sort.h"

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

// The strcoll order as plain byte order, computed once per cell.
std::string CollationKey(const std::string& text) {
  const std::size_t length = std::strxfrm(nullptr, text.c_str(), 0);
  std::string key(length + 1, '\0');
  std::strxfrm(key.data(), text.c_str(), key.size());
  key.resize(length);
  return key;
}

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
  std::size_t i = 0;
  while (i < text.size() && IsTokenSeparator(text[i])) ++i;
  if (i + 1 < text.size() && text[i] == '+' && text[i + 1] != '-') ++i;
  double value = 0;
  const char* begin = text.data() + i;
  const char* end = text.data() + text.size();
  const auto [next, error] = std::from_chars(begin, end, value);
  if (error != std::errc() || std::isnan(value)) return 0;
  std::string_view unit(next, static_cast<std::size_t>(end - next));
  while (!unit.empty() && IsTokenSeparator(unit.front())) unit.remove_prefix(1);
  if (unit.empty()) return value;
  switch (unit.front()) {
    case 'K':
      return value * 1024.0;
    case 'M':
      return value * 1048576.0;
    case 'G':
      return value * 1073741824.0;
    default:
      return value;
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
