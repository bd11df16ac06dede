#include "platform/linux/posix_name_resolver.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quorvel {
namespace {

TEST(PosixNameResolver, ResolvesLocalhostOnce) {
  PosixNameResolver resolver;
  const std::vector<Ipv4Address> addresses = resolver.ResolveIpv4("localhost");
  ASSERT_FALSE(addresses.empty());
  EXPECT_EQ(std::count(addresses.begin(), addresses.end(), MakeIpv4(127, 0, 0, 1)), 1);
}

TEST(PosixNameResolver, DottedTextResolvesToItself) {
  PosixNameResolver resolver;
  EXPECT_EQ(resolver.ResolveIpv4("127.0.0.9"), std::vector<Ipv4Address>{MakeIpv4(127, 0, 0, 9)});
  EXPECT_EQ(resolver.ResolveIpv6("2001:db8::5"), std::vector<IpAddress>{*ParseIp("2001:db8::5")});
  EXPECT_TRUE(resolver.ResolveIpv6("127.0.0.9").empty());
}

TEST(PosixNameResolver, BadNamesGiveNothing) {
  PosixNameResolver resolver;
  EXPECT_TRUE(resolver.ResolveIpv4("").empty());
  EXPECT_TRUE(resolver.ResolveIpv4("no such host.invalid").empty());
  EXPECT_TRUE(resolver.ResolveIpv6("no such host.invalid").empty());
}

TEST(PosixNameResolver, HostNameIsKnown) {
  PosixNameResolver resolver;
  EXPECT_FALSE(resolver.HostName().empty());
}

TEST(PosixNameResolver, LoopbackHasAReverseName) {
  PosixNameResolver resolver;
  const auto name = resolver.ReverseLookup(MakeIpv4(127, 0, 0, 1));
  ASSERT_TRUE(name.has_value());
  EXPECT_FALSE(name->empty());
  EXPECT_NE(*name, "127.0.0.1") << "a numeric answer is no name";
}

}  // namespace
}  // namespace quorvel
