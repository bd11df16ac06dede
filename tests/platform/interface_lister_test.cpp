#include "platform/linux/ifaddrs_interface_lister.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace quorvel {
namespace {

TEST(IfaddrsInterfaceLister, ListsLoopbackWithItsMask) {
  IfaddrsInterfaceLister lister;
  const std::vector<InterfaceInfo> interfaces = lister.List();
  const auto loopback = std::find_if(interfaces.begin(), interfaces.end(),
                                     [](const InterfaceInfo& info) { return info.address == "127.0.0.1"; });
  ASSERT_NE(loopback, interfaces.end());
  EXPECT_EQ(loopback->mask, "255.0.0.0");
  EXPECT_EQ(loopback->name, "lo");
  EXPECT_EQ(loopback->description, "lo");
  EXPECT_TRUE(loopback->loopback);
  EXPECT_TRUE(loopback->up);
  // Every IPv6 address of an interface, with its prefix length, where the
  // kernel gives loopback one.
  std::ifstream inet6("/proc/net/if_inet6");
  std::string line;
  bool loopbackHasIpv6 = false;
  while (std::getline(inet6, line)) loopbackHasIpv6 |= line.rfind("00000000000000000000000000000001", 0) == 0;
  if (loopbackHasIpv6) {
    EXPECT_NE(std::find(loopback->ipv6Addresses.begin(), loopback->ipv6Addresses.end(),
                        IpPrefix{*ParseIp("::1"), 128}),
              loopback->ipv6Addresses.end());
  }
  for (const InterfaceInfo& info : interfaces) {
    EXPECT_EQ(std::count_if(interfaces.begin(), interfaces.end(),
                            [&](const InterfaceInfo& other) { return other.name == info.name; }),
              1)
        << info.name << " is listed once, with its first address";
    EXPECT_TRUE(ParseIpv4(info.address).has_value()) << info.address;
    EXPECT_TRUE(ParseIpv4(info.mask).has_value()) << info.mask;
  }
}

TEST(IfaddrsInterfaceLister, NoRouteTableMeansNoDefaultRoute) {
  IfaddrsInterfaceLister lister("/nonexistent/route");
  EXPECT_FALSE(lister.DefaultRouteAddress().has_value());
}

struct RouteCase {
  std::string name;
  std::string table;
  std::vector<std::string> interfaces;
};

class DefaultRouteTest : public ::testing::TestWithParam<RouteCase> {};

TEST_P(DefaultRouteTest, PicksDefaultRoutesByMetric) {
  EXPECT_EQ(DefaultRouteInterfaces(GetParam().table), GetParam().interfaces);
}

const std::string kHeading =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

INSTANTIATE_TEST_SUITE_P(
    Tables, DefaultRouteTest,
    ::testing::Values(
        RouteCase{"Empty", "", {}},
        RouteCase{"HeadingOnly", kHeading, {}},
        RouteCase{"OneDefault",
                  kHeading + "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                             "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n",
                  {"eth0"}},
        RouteCase{"LowestMetricFirst",
                  kHeading + "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                             "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                             "usb0\t00000000\t012AA8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n",
                  {"eth0", "wlan0", "usb0"}},
        RouteCase{"DownAndNonDefaultIgnored",
                  kHeading + "eth1\t00000000\t0100A8C0\t0002\t0\t0\t1\t00000000\t0\t0\t0\n"
                             "eth2\t00000000\t0100A8C0\t0003\t0\t0\t1\t000000FF\t0\t0\t0\n"
                             "eth3\t0000000A\t0100A8C0\t0003\t0\t0\t1\t00000000\t0\t0\t0\n"
                             "eth4\tzzzzzzzz\t0100A8C0\t0003\t0\t0\t1\t00000000\t0\t0\t0\n"
                             "eth5\t00000000\n",
                  {}}),
    [](const ::testing::TestParamInfo<RouteCase>& p) { return p.param.name; });

}  // namespace
}  // namespace quorvel
