#include "attribution/local_sources.h"

#include <gtest/gtest.h>

#include "support/fake_platform.h"

namespace quorvel {
namespace {

class LocalSourcesTest : public ::testing::Test {
 protected:
  testing::FakeOwnerSource owners;
  testing::FakeClock clock;
  LocalSources sources{owners, clock};
};

TEST_F(LocalSourcesTest, OwnerAndFallbackTexts) {
  owners.SetOwners({
      {5000, false, 1234, true, "app.bin", "/opt/app/app.bin"},
      {135, false, 4, false, "", ""},
      {7000, false, 10, true, "tcp-owner", "/bin/tcp-owner"},
      {7000, true, 11, true, "udp-owner", "/bin/udp-owner"},
  });
  ASSERT_TRUE(sources.RunPass());
  struct Case {
    std::uint32_t port;
    std::uint16_t protocol;
    const char* text;
    const char* path;
  } const cases[] = {
      {5000, 6, "app.bin(1234): 5000", "/opt/app/app.bin"},
      {5000, 17, "app.bin(1234): 5000", "/opt/app/app.bin"},  // TCP and UDP share the port map
      {135, 6, "Process ID# 4", ""},
      {7000, 6, "udp-owner(11): 7000", "/bin/udp-owner"},     // UDP rows come after TCP rows
      {53, 17, "UDP protocol: 53", "unchanged"},
      {80, 6, "TCP protocol: 80", "unchanged"},
      {5000, 1, "ICMP protocol", "unchanged"},
      {0, 58, "ICMPv6 protocol", "unchanged"},
  };
  for (const Case& c : cases) {
    std::string path = "unchanged";
    EXPECT_EQ(sources.LookupLocalSource(c.port, c.protocol, &path), c.text) << c.port;
    EXPECT_EQ(path, c.path) << c.port;
  }
}

TEST_F(LocalSourcesTest, PortsKeepTheirLastOwner) {
  owners.SetOwners({{5000, false, 1, true, "first", "/bin/first"}});
  ASSERT_TRUE(sources.RunPass());
  const std::uint64_t generation = sources.Generation();
  owners.SetOwners({});  // the program closed its socket
  ASSERT_TRUE(sources.RunPass());
  EXPECT_EQ(sources.Generation(), generation);
  EXPECT_EQ(sources.LookupLocalSource(5000, 6), "first(1): 5000");
  owners.SetOwners({{5000, true, 2, true, "second", "/bin/second"}});
  ASSERT_TRUE(sources.RunPass());
  EXPECT_NE(sources.Generation(), generation);
  EXPECT_EQ(sources.LookupLocalSource(5000, 17), "second(2): 5000");
}

TEST_F(LocalSourcesTest, WithoutTablesEveryPacketGetsAProtocolText) {
  owners.Fail(true);
  EXPECT_FALSE(sources.RunPass());
  EXPECT_EQ(sources.LookupLocalSource(443, 6), "TCP protocol: 443");
  EXPECT_EQ(sources.LookupLocalSource(53, 17), "UDP protocol: 53");
}

}  // namespace
}  // namespace quorvel
