#include "common/text_order.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace quorvel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

std::string CollationKey(const std::string& text) {
  const std::size_t length = std::strxfrm(nullptr, text.c_str(), 0);
  std::string key(length + 1, '\0');
  std::strxfrm(key.data(), text.c_str(), key.size());
  key.resize(length);
  return key;
}

std::optional<ByteText> ParseByteText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i + 1 < text.size() && text[i] == '+' && text[i + 1] != '-') ++i;
  ByteText parsed;
  const char* end = text.data() + text.size();
  const auto [next, error] = std::from_chars(text.data() + i, end, parsed.number);
  if (error != std::errc() || std::isnan(parsed.number)) return std::nullopt;
  const char* unit = next;
  while (unit < end && IsBlank(*unit)) ++unit;
  if (unit < end) parsed.unit = *unit;
  return parsed;
}

}  // namespace quorvel
