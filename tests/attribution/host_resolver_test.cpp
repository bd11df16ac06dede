#include "attribution/host_resolver.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "persistence/save_and_clear.h"
#include "attribution/resolver_fixture.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

using testing::FakeClock;
using testing::FakeNameResolver;

const Ipv4Address kServer = MakeIpv4(10, 0, 0, 1);
const Ipv4Address kNeighbour = MakeIpv4(10, 0, 0, 15);

class HostResolverTest : public testing::ResolverFixture {
 protected:
  void AddRemote(Ipv4Address address) {
    std::lock_guard lock(state_.statMutex);
    state_.stats.downloadRemotes[address] = RemoteTotal{Ipv4ToText(address), 10};
    state_.stats.uploadRemotes[address] = RemoteTotal{Ipv4ToText(address), 20};
  }

};

TEST_F(HostResolverTest, ANameReachesEveryRowOfItsAddressAndTheRemoteTotalsOnly) {
  const RowId https = AddRow("10.0.0.1: 443", "10.0.0.1", "a.exe(1): 5000");
  const RowId http = AddRow("10.0.0.1: 80", "10.0.0.1", "a.exe(1): 5001");
  const RowId neighbour = AddRow("10.0.0.15: 80", "10.0.0.15", "a.exe(1): 5002");
  const RowId proxy = AddRow("10.0.0.1", "proxied.example", "a.exe(1): 5003");  // a proxy row: no port
  AddRemote(kServer);
  AddRemote(kNeighbour);

  pool_.ApplyResolvedName(kServer, "server.example");
  EXPECT_EQ(Row(https)->columns[kColumnHost], "server.example");
  EXPECT_EQ(Row(http)->columns[kColumnHost], "server.example");
  EXPECT_EQ(Row(neighbour)->columns[kColumnHost], "10.0.0.15");
  EXPECT_EQ(Row(proxy)->columns[kColumnHost], "proxied.example");
  std::lock_guard lock(state_.statMutex);
  EXPECT_EQ(state_.stats.downloadRemotes.at(kServer).displayName, "server.example");
  EXPECT_EQ(state_.stats.uploadRemotes.at(kServer).displayName, "server.example");
  EXPECT_EQ(state_.stats.downloadRemotes.at(kNeighbour).displayName, "10.0.0.15");
}

TEST_F(HostResolverTest, FilterRulesOnTheNameRemoveOnlyTheRowsTheyMatch) {
  {
    std::lock_guard lock(state_.listMutex);
    state_.filters.rules = {FilterRule{"ads.", "browser"}};
    state_.filters.mode = FilterMode::kBlackList;
  }
  const RowId browser = AddRow("10.0.0.1: 443", "10.0.0.1", "browser(9): 6000");
  const RowId mail = AddRow("10.0.0.1: 993", "10.0.0.1", "mail(8): 6001");
  pool_.ApplyResolvedName(kServer, "ads.example");
  EXPECT_EQ(Row(browser), nullptr);
  ASSERT_NE(Row(mail), nullptr);
  EXPECT_EQ(Row(mail)->columns[kColumnHost], "ads.example");

  // A white list admitting one local source for any host keeps its rows.
  {
    std::lock_guard lock(state_.listMutex);
    state_.filters.rules = {FilterRule{"<ANY>", "mail"}};
    state_.filters.mode = FilterMode::kWhiteList;
  }
  const RowId other = AddRow("10.0.0.1: 25", "10.0.0.1", "smtp(7): 6002");
  pool_.ApplyResolvedName(kServer, "mx.example");
  EXPECT_EQ(Row(mail)->columns[kColumnHost], "mx.example");
  EXPECT_EQ(Row(other), nullptr);
}

TEST_F(HostResolverTest, AResultAfterSaveAndClearChangesNothing) {
  AddRow("10.0.0.1: 443", "10.0.0.1", "a.exe(1): 5000");
  AddRemote(kServer);
  const auto directory = std::filesystem::path(::testing::TempDir()) / "host_resolver_save";
  ASSERT_TRUE(SaveAndClear(state_, directory, clock_).ok);
  pool_.ApplyResolvedName(kServer, "late.example");
  {
    std::lock_guard lock(state_.listMutex);
    EXPECT_TRUE(state_.rows.Empty());
  }
  std::lock_guard lock(state_.statMutex);
  EXPECT_TRUE(state_.stats.downloadRemotes.empty());
  EXPECT_TRUE(state_.stats.uploadRemotes.empty());
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace quorvel
