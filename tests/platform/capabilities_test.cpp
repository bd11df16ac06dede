#include "platform/linux/capabilities.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace quorvel {
namespace {

TEST(CapabilitiesTest, ParsesTheEffectiveSetAndNamesWhatIsMissing) {
  const std::pair<std::string, std::optional<std::uint64_t>> cases[] = {
      {"Name:\tx\nCapInh:\t0000000000000000\nCapPrm:\t000001ffffffffff\nCapEff:\t000001ffffffffff\n",
       0x000001ffffffffffull},
      {"CapPrm:\t0000000000002000\nCapEff:\t0000000000002000", 0x2000},
      {"CapEff:\t0000000000000000\n", 0},
      {"Name:\tx\nCapPrm:\t0000000000002000\n", std::nullopt},
      {"CapEff:\t\n", std::nullopt},
      {"CapEff:\t00zz\n", std::nullopt},
  };
  for (const auto& [status, effective] : cases) EXPECT_EQ(ParseEffectiveCapabilities(status), effective) << status;

  using Names = std::vector<std::string>;
  const std::vector<Capability> capture = {kCapNetRaw, kCapNetAdmin};
  EXPECT_EQ(MissingCapabilities(0, capture), (Names{"cap_net_raw", "cap_net_admin"}));
  EXPECT_EQ(MissingCapabilities(1u << 13, capture), Names{"cap_net_admin"});
  EXPECT_TRUE(MissingCapabilities((1u << 12) | (1u << 13), capture).empty());
  EXPECT_EQ(MissingCapabilities(1u << 2, {kCapDacReadSearch, kCapSysPtrace}), Names{"cap_sys_ptrace"});
  if (geteuid() == 0) {
    EXPECT_TRUE(MissingCaptureRights().empty()) << "root has everything";
  }
}

}  // namespace
}  // namespace quorvel
