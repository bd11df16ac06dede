#include "attribution/names/host_name_text.h"

namespace quorvel {

bool IsHostNameByte(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
         byte == '-' || byte == '_';
}

std::optional<std::string> CleanHostName(std::string_view raw) {
  if (raw.size() > kMaxObservedNameLength) raw = raw.substr(0, kMaxObservedNameLength);
  while (!raw.empty() && raw.back() == '.') raw.remove_suffix(1);
  if (raw.empty()) return std::nullopt;
  std::string name;
  name.reserve(raw.size());
  char previous = '.';
  for (const char c : raw) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '.') {
      if (previous == '.') return std::nullopt;  // empty label
    } else if (!IsHostNameByte(byte)) {
      return std::nullopt;
    }
    name += (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte + ('a' - 'A')) : c;
    previous = c;
  }
  return name;
}

}  // namespace quorvel
