#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Collation key of a text under the process's LC_COLLATE: comparing keys
// bytewise orders like strcoll, computed once per cell for sorting.
std::string CollationKey(const std::string& text);

// The number a byte text starts with ("%f"), read independently of the
// locale, and the first letter of the unit word after it (0 when none);
// nullopt when the text holds no number.
struct ByteText {
  double number = 0;
  char unit = 0;
};
std::optional<ByteText> ParseByteText(std::string_view text);

}  // namespace quorvel
