#include "platform/linux/posix_name_resolver.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quorvel {
namespace {

TEST(PosixNameResolver, ResolvesNamesAndDottedTextsAndNamesLoopback) {
  PosixNameResolver resolver;
  const std::vector<Ipv4Address> localhost = resolver.ResolveIpv4("localhost");
  EXPECT_EQ(std::count(localhost.begin(), localhost.end(), MakeIpv4(127, 0, 0, 1)), 1) << "once";
  EXPECT_EQ(resolver.ResolveIpv4("127.0.0.9"), std::vector<Ipv4Address>{MakeIpv4(127, 0, 0, 9)});
  EXPECT_EQ(resolver.ResolveIpv6("2001:db8::5"), std::vector<IpAddress>{*ParseIp("2001:db8::5")});
  EXPECT_TRUE(resolver.ResolveIpv6("127.0.0.9").empty());
  EXPECT_TRUE(resolver.ResolveIpv4("").empty());
  EXPECT_TRUE(resolver.ResolveIpv4("no such host.invalid").empty());
  EXPECT_TRUE(resolver.ResolveIpv6("no such host.invalid").empty());
  EXPECT_FALSE(resolver.HostName().empty());
  const auto name = resolver.ReverseLookup(MakeIpv4(127, 0, 0, 1));
  ASSERT_TRUE(name.has_value());
  EXPECT_FALSE(name->empty());
  EXPECT_NE(*name, "127.0.0.1") << "a numeric answer is no name";
}

}  // namespace
}  // namespace quorvel
