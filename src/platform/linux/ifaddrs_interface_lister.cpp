#include "platform/linux/ifaddrs_interface_lister.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <fstream>
#include <sstream>

namespace quorvel {
namespace {

std::string AddressText(const sockaddr* address) {
  if (address == nullptr || address->sa_family != AF_INET) return "0.0.0.0";
  return Ipv4ToText(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

int PrefixLength(const sockaddr* mask) {
  if (mask == nullptr || mask->sa_family != AF_INET6) return 128;
  int length = 0;
  for (const std::uint8_t byte : reinterpret_cast<const sockaddr_in6*>(mask)->sin6_addr.s6_addr) {
    length += std::popcount(byte);
  }
  return length;
}

bool ParseNumber(const std::string& text, int base, unsigned long& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::vector<InterfaceInfo> IfaddrsInterfaceLister::List() {
  std::vector<InterfaceInfo> interfaces;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return interfaces;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const std::string name = entry->ifa_name;
    const bool known = std::any_of(interfaces.begin(), interfaces.end(),
                                   [&](const InterfaceInfo& info) { return info.name == name; });
    if (known) continue;  // only the first IPv4 address of each interface
    InterfaceInfo info;
    info.name = name;
    info.description = name;
    info.address = AddressText(entry->ifa_addr);
    info.mask = AddressText(entry->ifa_netmask);
    // A cable pulled or Wi-Fi off leaves the interface up without a link.
    info.up = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_RUNNING) != 0;
    info.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
    interfaces.push_back(std::move(info));
  }
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET6) continue;
    const auto info = std::find_if(interfaces.begin(), interfaces.end(),
                                   [&](const InterfaceInfo& i) { return i.name == entry->ifa_name; });
    if (info == interfaces.end()) continue;
    const auto* inet6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
    info->ipv6Addresses.push_back(
        IpPrefix{IpAddress::Ipv6(inet6->sin6_addr.s6_addr), PrefixLength(entry->ifa_netmask)});
  }
  freeifaddrs(list);
  return interfaces;
}

std::optional<Ipv4Address> IfaddrsInterfaceLister::DefaultRouteAddress() {
  std::ifstream file(routeTablePath_);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  const std::vector<InterfaceInfo> interfaces = List();
  for (const std::string& name : DefaultRouteInterfaces(text.str())) {
    for (const InterfaceInfo& info : interfaces) {
      if (info.name == name) return ParseIpv4(info.address);
    }
  }
  return std::nullopt;
}

std::vector<std::string> DefaultRouteInterfaces(std::string_view routeTable) {
  struct Route {
    unsigned long metric;
    std::string name;
  };
  std::vector<Route> routes;
  std::istringstream lines{std::string(routeTable)};
  std::string line;
  std::getline(lines, line);  // heading
  while (std::getline(lines, line)) {
    // Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
    std::istringstream fields(line);
    std::string name, destination, gateway, flagsText, refCount, use, metricText, mask;
    if (!(fields >> name >> destination >> gateway >> flagsText >> refCount >> use >> metricText >> mask)) {
      continue;
    }
    unsigned long destinationValue = 0, maskValue = 0, flags = 0, metric = 0;
    if (!ParseNumber(destination, 16, destinationValue) || !ParseNumber(mask, 16, maskValue) ||
        !ParseNumber(flagsText, 16, flags) || !ParseNumber(metricText, 10, metric)) {
      continue;
    }
    if (destinationValue != 0 || maskValue != 0 || (flags & RTF_UP) == 0) continue;
    routes.push_back(Route{metric, name});
  }
  std::stable_sort(routes.begin(), routes.end(),
                   [](const Route& a, const Route& b) { return a.metric < b.metric; });
  std::vector<std::string> names;
  for (Route& route : routes) names.push_back(std::move(route.name));
  return names;
}

std::optional<std::string> InterfaceHoldingAddress(Ipv4Address address) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return std::nullopt;
  std::optional<std::string> name;
  for (const ifaddrs* entry = list; entry != nullptr && !name; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const auto* inet = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (inet->sin_addr.s_addr == address) name = entry->ifa_name;
  }
  freeifaddrs(list);
  // An address label such as "eth0:1" names an address, not a device.
  if (name) name = name->substr(0, name->find(':'));
  return name;
}

bool HasInterfaceNamed(std::string_view name) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (const ifaddrs* entry = list; entry != nullptr && !found; entry = entry->ifa_next) {
    found = entry->ifa_name != nullptr && name == entry->ifa_name;
  }
  freeifaddrs(list);
  return found;
}

}  // namespace quorvel
