#include "platform/linux/ifaddrs_interface_lister.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace quorvel {
namespace {

TEST(IfaddrsInterfaceLister, ListsEachInterfaceOnceAndLoopbackWithItsMasks) {
  const std::vector<InterfaceInfo> interfaces = IfaddrsInterfaceLister().List();
  const auto loopback = std::find_if(interfaces.begin(), interfaces.end(),
                                     [](const InterfaceInfo& info) { return info.address == "127.0.0.1"; });
  ASSERT_NE(loopback, interfaces.end());
  EXPECT_EQ(loopback->mask, "255.0.0.0");
  EXPECT_EQ(loopback->name, "lo");
  EXPECT_EQ(loopback->description, "lo");
  EXPECT_TRUE(loopback->loopback && loopback->up);
  // Every IPv6 address of an interface, with its prefix length, where the kernel gives loopback one.
  std::ifstream inet6("/proc/net/if_inet6");
  bool loopbackHasIpv6 = false;
  for (std::string line; std::getline(inet6, line);) loopbackHasIpv6 |= line.starts_with(std::string(31, '0') + "1");
  if (loopbackHasIpv6) {
    const IpPrefix one{*ParseIp("::1"), 128};
    EXPECT_NE(std::find(loopback->ipv6Addresses.begin(), loopback->ipv6Addresses.end(), one),
              loopback->ipv6Addresses.end());
  }
  for (const InterfaceInfo& info : interfaces) {
    EXPECT_EQ(std::count_if(interfaces.begin(), interfaces.end(),
                            [&](const InterfaceInfo& other) { return other.name == info.name; }),
              1)
        << info.name << " is listed once, with its first address";
    EXPECT_TRUE(ParseIpv4(info.address) && ParseIpv4(info.mask)) << info.address << " " << info.mask;
  }
  EXPECT_FALSE(IfaddrsInterfaceLister("/nonexistent/route").DefaultRouteAddress()) << "no route table";
}

TEST(IfaddrsInterfaceLister, PicksDefaultRoutesByMetric) {
  const std::string heading = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  // Interface, destination, flags, metric and mask of one route.
  const auto route = [](const char* name, const char* destination, const char* flags, const char* metric,
                        const char* mask) {
    return std::string(name) + "\t" + destination + "\t0100A8C0\t" + flags + "\t0\t0\t" + metric + "\t" + mask +
           "\t0\t0\t0\n";
  };
  const std::string lan = route("eth0", "0000A8C0", "0001", "100", "00FFFFFF");
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {}},
      {heading, {}},
      {heading + route("eth0", "00000000", "0003", "100", "00000000") + lan, {"eth0"}},
      {heading + route("wlan0", "00000000", "0003", "600", "00000000") +
           route("eth0", "00000000", "0003", "100", "00000000") + route("usb0", "00000000", "0003", "600", "00000000"),
       {"eth0", "wlan0", "usb0"}},
      // Down, not a default route, unreadable, cut short: ignored.
      {heading + route("eth1", "00000000", "0002", "1", "00000000") + route("eth2", "00000000", "0003", "1", "000000FF") +
           route("eth3", "0000000A", "0003", "1", "00000000") + route("eth4", "zzzzzzzz", "0003", "1", "00000000") +
           "eth5\t00000000\n",
       {}},
  };
  for (const auto& [table, names] : cases) EXPECT_EQ(DefaultRouteInterfaces(table), names) << table;
}

}  // namespace
}  // namespace quorvel
