#include "tools/export/host_port.h"

#include <algorithm>

namespace quorvel {

bool SplitHostPort(const std::string& text, std::string& host, std::string& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  host = text.substr(0, colon);
  port = text.substr(colon + 1);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return false;  // an IPv6 address needs its brackets
  }
  return std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) && port.size() <= 5 &&
         std::stoi(port) <= 65535;
}

}  // namespace quorvel
