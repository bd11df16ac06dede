#include "spy/spy_matcher.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

const Ipv4Address kRemote = MakeIpv4(10, 0, 0, 5);

TEST(SpyMatcherTest, MatchesTheRowsFlowExactlyOrAllTraffic) {
  const SpyTarget row{"10.0.0.5: 443", "example.org", "browser(4242): 50000", "/usr/bin/browser"};
  const SpyTarget all{"All IP addresses", "All hosts", "All local applications", "All local applications"};
  struct Case {
    const char* name;
    SpyTarget target;
    const char* localSource;
    IpAddress address;
    std::uint32_t port;
    bool matches;
  };
  const Case cases[] = {
      {"the row's flow", row, "browser(4242): 50000", kRemote, 443, true},
      {"other remote port", row, "browser(4242): 50000", kRemote, 80, false},
      {"other remote address", row, "browser(4242): 50000", MakeIpv4(10, 0, 0, 6), 443, false},
      {"local source with another process id", row, "browser(4243): 50000", kRemote, 443, false},
      {"local source differs in case", row, "Browser(4242): 50000", kRemote, 443, false},
      {"all traffic", all, "anything", MakeIpv4(1, 2, 3, 4), 9, true},
      {"all traffic, empty source", all, "", 0, 0, true},
      {"only text 3 selects all", {"All IP addresses", "All hosts", "x", "All local applications"}, "x",
       kRemote, 443, false},
      {"a proxied row has no port", {"10.0.0.5", "h", "browser(4242): 50000", ""}, "browser(4242): 50000",
       kRemote, 0, false},
      {"port 0 of ICMP", {"10.0.0.5: 0", "h", "ICMP protocol", ""}, "ICMP protocol", kRemote, 0, true},
      {"leading zero is another text", {"010.0.0.5: 443", "h", "s", ""}, "s", kRemote, 443, false},
      {"plus sign is another text", {"10.0.0.5: +443", "h", "s", ""}, "s", kRemote, 443, false},
      {"no blank after the colon", {"10.0.0.5:443", "h", "s", ""}, "s", kRemote, 443, false},
      {"trailing blank", {"10.0.0.5: 443 ", "h", "s", ""}, "s", kRemote, 443, false},
      {"port beyond 16 bits kept as text", {"10.0.0.5: 70000", "h", "s", ""}, "s", kRemote, 70000, true},
      {"empty target", {"", "", "", ""}, "", 0, 0, false},
      {"ipv6 flow", {"2001:db8::5: 443", "h", "s", ""}, "s", *ParseIp("2001:db8::5"), 443, true},
      {"ipv6 flow, other address", {"2001:db8::5: 443", "h", "s", ""}, "s", *ParseIp("2001:db8::5:0"), 443,
       false},
      {"ipv6 text not as inet_ntop writes it", {"2001:DB8::5: 443", "h", "s", ""}, "s",
       *ParseIp("2001:db8::5"), 443, false},
      {"ipv4-mapped is not the ipv4 address", {"10.0.0.5: 443", "h", "s", ""}, "s",
       *ParseIp("::ffff:10.0.0.5"), 443, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SpyMatcher(c.target).Matches(c.localSource, c.address, c.port), c.matches) << c.name;
  }
}

}  // namespace
}  // namespace quorvel
