#include "engine/host_resolver.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/resolver_fixture.h"
#include "persistence/save_and_clear.h"

namespace quorvel {
namespace {

const Ipv4Address kServer = MakeIpv4(10, 0, 0, 1);

class HostResolverTest : public testing::ResolverFixture {
 protected:
  void AddRemote(const IpAddress& address) {
    state_.stats.downloadRemotes[address] = RemoteTotal{IpToText(address), 10};
    state_.stats.uploadRemotes[address] = RemoteTotal{IpToText(address), 20};
  }
  std::string Host(RowId id) { return Row(id) ? Row(id)->columns[kColumnHost] : "no row"; }
  std::string RemoteName(const IpAddress& address) {
    const std::string name = state_.stats.downloadRemotes.at(address).displayName;
    EXPECT_EQ(state_.stats.uploadRemotes.at(address).displayName, name);
    return name;
  }
};

// A name reaches every row of its full address (not of an address it
// begins), proxy rows keep their host, and the remote totals take it.
TEST_F(HostResolverTest, ANameReachesEveryRowOfItsAddressAndTheRemoteTotalsOnly) {
  const IpAddress server6 = *ParseIp("2001:db8::1"), longer6 = *ParseIp("2001:db8::1:0");
  const IpAddress neighbour = MakeIpv4(10, 0, 0, 15);
  const RowId https = AddRow("10.0.0.1: 443", "10.0.0.1", "a.exe(1): 5000");
  const RowId http = AddRow("10.0.0.1: 80", "10.0.0.1", "a.exe(1): 5001");
  const RowId near = AddRow("10.0.0.15: 80", "10.0.0.15", "a.exe(1): 5002");
  const RowId proxy = AddRow("10.0.0.1", "proxied.example", "a.exe(1): 5003");  // a proxy row: no port
  const RowId six = AddRow("2001:db8::1: 443", "2001:db8::1", "a.exe(1): 5004");
  const RowId other6 = AddRow("2001:db8::1:0: 443", "2001:db8::1:0", "a.exe(1): 5005");
  for (const IpAddress& address : {IpAddress(kServer), neighbour, server6, longer6}) AddRemote(address);
  pool_.ApplyResolvedName(kServer, "server.example");
  pool_.ApplyResolvedName(server6, "six.example");
  EXPECT_EQ(Host(https), "server.example");
  EXPECT_EQ(Host(http), "server.example");
  EXPECT_EQ(Host(near), "10.0.0.15");
  EXPECT_EQ(Host(proxy), "proxied.example");
  EXPECT_EQ(Host(six), "six.example");
  EXPECT_EQ(Host(other6), "2001:db8::1:0");
  EXPECT_EQ(RemoteName(kServer), "server.example");
  EXPECT_EQ(RemoteName(neighbour), "10.0.0.15");
  EXPECT_EQ(RemoteName(server6), "six.example");
  EXPECT_EQ(RemoteName(longer6), "2001:db8::1:0");
}

TEST_F(HostResolverTest, FilterRulesOnTheNameRemoveOnlyTheRowsTheyMatch) {
  state_.filters = FilterSet{{FilterRule{"ads.", "browser"}}, FilterMode::kBlackList};
  const RowId browser = AddRow("10.0.0.1: 443", "10.0.0.1", "browser(9): 6000");
  const RowId mail = AddRow("10.0.0.1: 993", "10.0.0.1", "mail(8): 6001");
  pool_.ApplyResolvedName(kServer, "ads.example");
  EXPECT_EQ(Host(browser), "no row");
  EXPECT_EQ(Host(mail), "ads.example");
  // A white list admitting one local source for any host keeps its rows.
  state_.filters = FilterSet{{FilterRule{"<ANY>", "mail"}}, FilterMode::kWhiteList};
  const RowId other = AddRow("10.0.0.1: 25", "10.0.0.1", "smtp(7): 6002");
  pool_.ApplyResolvedName(kServer, "mx.example");
  EXPECT_EQ(Host(mail), "mx.example");
  EXPECT_EQ(Host(other), "no row");
}

TEST_F(HostResolverTest, AResultAfterSaveAndClearChangesNothing) {
  AddRow("10.0.0.1: 443", "10.0.0.1", "a.exe(1): 5000");
  AddRemote(kServer);
  const auto directory = std::filesystem::path(::testing::TempDir()) / "host_resolver_save";
  ASSERT_TRUE(SaveAndClear(state_, directory, clock_).ok);
  std::filesystem::remove_all(directory);
  pool_.ApplyResolvedName(kServer, "late.example");
  EXPECT_TRUE(state_.rows.Empty());
  EXPECT_TRUE(state_.stats.downloadRemotes.empty());
  EXPECT_TRUE(state_.stats.uploadRemotes.empty());
}

}  // namespace
}  // namespace quorvel
