#include "spy/spy_matcher.h"

#include <gtest/gtest.h>

#include "spy/spy_test_support.h"

namespace quorvel {
namespace {

// A row matches its flow's texts exactly, as the table shows them.
TEST(SpyMatcherTest, MatchesTheRowsFlowExactlyOrAllTraffic) {
  const Ipv4Address remote = MakeIpv4(10, 0, 0, 5);
  const SpyTarget row{"10.0.0.5: 443", "example.org", "browser(4242): 50000", "/usr/bin/browser"};
  const auto rowAt = [](const char* remoteText) { return SpyTarget{remoteText, "h", "s", ""}; };
  struct Case {
    const char* name;
    SpyTarget target;
    const char* localSource;
    IpAddress address;
    std::uint32_t port;
    bool matches;
  };
  const Case cases[] = {
      {"the row's flow", row, "browser(4242): 50000", remote, 443, true},
      {"other remote port", row, "browser(4242): 50000", remote, 80, false},
      {"other remote address", row, "browser(4242): 50000", MakeIpv4(10, 0, 0, 6), 443, false},
      {"local source with another process id", row, "browser(4243): 50000", remote, 443, false},
      {"local source differs in case", row, "Browser(4242): 50000", remote, 443, false},
      {"all traffic", testing::AllTrafficTarget(), "anything", MakeIpv4(1, 2, 3, 4), 9, true},
      {"all traffic, empty source", testing::AllTrafficTarget(), "", 0, 0, true},
      {"only text 3 selects all", {"All IP addresses", "All hosts", "x", "All local applications"}, "x", remote,
       443, false},
      {"a proxied row has no port", {"10.0.0.5", "h", "browser(4242): 50000", ""}, "browser(4242): 50000", remote,
       0, false},
      {"port 0 of ICMP", {"10.0.0.5: 0", "h", "ICMP protocol", ""}, "ICMP protocol", remote, 0, true},
      {"leading zero is another text", rowAt("010.0.0.5: 443"), "s", remote, 443, false},
      {"plus sign is another text", rowAt("10.0.0.5: +443"), "s", remote, 443, false},
      {"no blank after the colon", rowAt("10.0.0.5:443"), "s", remote, 443, false},
      {"trailing blank", rowAt("10.0.0.5: 443 "), "s", remote, 443, false},
      {"port beyond 16 bits kept as text", rowAt("10.0.0.5: 70000"), "s", remote, 70000, true},
      {"empty target", {"", "", "", ""}, "", 0, 0, false},
      {"ipv6 flow", rowAt("2001:db8::5: 443"), "s", *ParseIp("2001:db8::5"), 443, true},
      {"ipv6 text not as inet_ntop writes it", rowAt("2001:DB8::5: 443"), "s", *ParseIp("2001:db8::5"), 443, false},
      {"ipv4-mapped is not the ipv4 address", rowAt("10.0.0.5: 443"), "s", *ParseIp("::ffff:10.0.0.5"), 443, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SpyMatcher(c.target).Matches(c.localSource, c.address, c.port), c.matches) << c.name;
  }
}

}  // namespace
}  // namespace quorvel
