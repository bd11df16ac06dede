#include "common/ipv4.h"

#include <arpa/inet.h>

#include <cstring>

namespace quorvel {

std::string Ipv4ToText(Ipv4Address address) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr in{};
  std::memcpy(&in, &address, sizeof address);
  inet_ntop(AF_INET, &in, text, sizeof text);
  return text;
}

std::optional<Ipv4Address> ParseIpv4(std::string_view text) {
  if (text.empty() || text.size() >= INET_ADDRSTRLEN) return std::nullopt;
  char buffer[INET_ADDRSTRLEN] = {};
  std::memcpy(buffer, text.data(), text.size());
  in_addr in{};
  if (inet_pton(AF_INET, buffer, &in) != 1) return std::nullopt;
  Ipv4Address address;
  std::memcpy(&address, &in, sizeof address);
  return address;
}

}  // namespace quorvel
