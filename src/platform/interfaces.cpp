#include "platform/interfaces.h"

namespace quorvel {

std::string InterfaceAddressesText(const InterfaceInfo& info) {
  std::string text = "IPv4 " + info.address;
  for (std::size_t i = 0; i < info.ipv6Addresses.size(); ++i) {
    text += i == 0 ? "; IPv6 " : ", ";
    text += IpToText(info.ipv6Addresses[i].address) + "/" + std::to_string(info.ipv6Addresses[i].length);
  }
  return text;
}

}  // namespace quorvel
