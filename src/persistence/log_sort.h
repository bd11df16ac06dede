#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "persistence/traffic_log.h"

namespace quorvel {

// A byte text such as "1.50 KB" read as "%f %s": the number times 1024,
// 1048576 or 1073741824 for a unit starting with "K", "M" or "G". A text
// without a number counts as 0. Independent of the process locale.
double LogByteTextValue(std::string_view text);

// Sorts rows by one column, largest first, keeping the order of equal rows.
// Columns 2 to 4 compare as byte texts, the others with the C library's
// collation (strcoll, so the LC_COLLATE the program set up).
void SortLogRows(std::vector<LogRow>& rows, std::size_t column);

}  // namespace quorvel
