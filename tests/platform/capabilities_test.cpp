#include "platform/linux/capabilities.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace quorvel {
namespace {

struct ParseCase {
  std::string name;
  std::string status;
  std::optional<std::uint64_t> effective;
};

class EffectiveCapabilitiesTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(EffectiveCapabilitiesTest, Parses) {
  EXPECT_EQ(ParseEffectiveCapabilities(GetParam().status), GetParam().effective);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EffectiveCapabilitiesTest,
    ::testing::Values(
        ParseCase{"Root", "Name:\tx\nCapInh:\t0000000000000000\nCapPrm:\t000001ffffffffff\nCapEff:\t000001ffffffffff\n",
                  0x000001ffffffffffull},
        ParseCase{"NetRawOnly", "CapPrm:\t0000000000002000\nCapEff:\t0000000000002000", 0x2000},
        ParseCase{"None", "CapEff:\t0000000000000000\n", 0},
        ParseCase{"Missing", "Name:\tx\nCapPrm:\t0000000000002000\n", std::nullopt},
        ParseCase{"Empty", "CapEff:\t\n", std::nullopt},
        ParseCase{"Garbage", "CapEff:\t00zz\n", std::nullopt}),
    [](const ::testing::TestParamInfo<ParseCase>& p) { return p.param.name; });

TEST(MissingCapabilities, NamesWhatIsMissing) {
  const std::vector<Capability> capture = {kCapNetRaw, kCapNetAdmin};
  EXPECT_EQ(MissingCapabilities(0, capture), (std::vector<std::string>{"cap_net_raw", "cap_net_admin"}));
  EXPECT_EQ(MissingCapabilities(1u << 13, capture), std::vector<std::string>{"cap_net_admin"});
  EXPECT_TRUE(MissingCapabilities((1u << 12) | (1u << 13), capture).empty());
  EXPECT_EQ(MissingCapabilities(1u << 2, {kCapDacReadSearch, kCapSysPtrace}),
            std::vector<std::string>{"cap_sys_ptrace"});
}

TEST(MissingCapabilities, RootHasEverything) {
  if (geteuid() != 0) GTEST_SKIP() << "not running as root";
  EXPECT_TRUE(MissingCaptureRights().empty());
}

}  // namespace
}  // namespace quorvel
