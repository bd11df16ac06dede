#include "platform/linux/posix_name_resolver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace quorvel {

std::string PosixNameResolver::HostName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) return {};
  return std::string(name.data());
}

std::vector<Ipv4Address> PosixNameResolver::ResolveIpv4(const std::string& host) {
  std::vector<Ipv4Address> addresses;
  if (host.empty()) return addresses;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address instead of one per socket type
  addrinfo* result = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0) return addresses;
  for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    const Ipv4Address address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
      addresses.push_back(address);
    }
  }
  freeaddrinfo(result);
  return addresses;
}

std::vector<IpAddress> PosixNameResolver::ResolveIpv6(const std::string& host) {
  std::vector<IpAddress> addresses;
  if (host.empty()) return addresses;
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0) return addresses;
  for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET6 || entry->ai_addr == nullptr) continue;
    const IpAddress address =
        IpAddress::Ipv6(reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_addr.s6_addr);
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
      addresses.push_back(address);
    }
  }
  freeaddrinfo(result);
  return addresses;
}

std::optional<std::string> PosixNameResolver::ReverseLookup(const IpAddress& address) {
  sockaddr_storage socketAddress{};
  socklen_t length;
  if (address.IsIpv4()) {
    auto& inet = reinterpret_cast<sockaddr_in&>(socketAddress);
    inet.sin_family = AF_INET;
    inet.sin_addr.s_addr = address.Ipv4();
    length = sizeof inet;
  } else {
    auto& inet6 = reinterpret_cast<sockaddr_in6&>(socketAddress);
    inet6.sin6_family = AF_INET6;
    std::memcpy(&inet6.sin6_addr, address.bytes.data(), sizeof inet6.sin6_addr);
    length = sizeof inet6;
  }
  std::array<char, NI_MAXHOST> name{};
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), length, name.data(), name.size(),
                  nullptr, 0, NI_NAMEREQD) != 0) {
    return std::nullopt;
  }
  if (name[0] == '\0') return std::nullopt;
  return std::string(name.data());
}

}  // namespace quorvel
