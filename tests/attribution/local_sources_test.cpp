#include "attribution/local_sources.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>
#include <vector>

#include "attribution/local_source_cache.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

struct Lookup {
  std::uint32_t port;
  std::uint16_t protocol;
  Ipv4Address address;
  const char *text, *path;  // "unchanged": the path is not set
};

void ExpectLookups(LocalSources& sources, const std::vector<Lookup>& lookups) {
  for (const Lookup& c : lookups) {
    std::string path = "unchanged";
    EXPECT_EQ(sources.LookupLocalSource(c.port, c.protocol, &path, c.address), c.text) << c.port;
    EXPECT_EQ(path, c.path) << c.port;
  }
}

class LocalSourcesTest : public ::testing::Test {
 protected:
  testing::FakeOwnerSource owners;
  testing::FakeClock clock;
  LocalSources sources{owners, clock};
};

TEST_F(LocalSourcesTest, OwnerAndFallbackTexts) {
  owners.SetOwners({{5000, false, 1234, true, "app.bin", "/opt/app/app.bin"},
                    {135, false, 4, false, "", ""},
                    {7000, false, 10, true, "tcp-owner", "/bin/tcp-owner"},
                    {7000, true, 11, true, "udp-owner", "/bin/udp-owner"}});
  ASSERT_TRUE(sources.RunPass());
  ExpectLookups(sources, {{5000, 6, 0, "app.bin(1234): 5000", "/opt/app/app.bin"},
                          {5000, 17, 0, "app.bin(1234): 5000", "/opt/app/app.bin"},  // TCP and UDP share the port map
                          {135, 6, 0, "Process ID# 4", ""},
                          {7000, 6, 0, "udp-owner(11): 7000", "/bin/udp-owner"},  // UDP rows come after TCP rows
                          {53, 17, 0, "UDP protocol: 53", "unchanged"},
                          {80, 6, 0, "TCP protocol: 80", "unchanged"},
                          {5000, 1, 0, "ICMP protocol", "unchanged"},
                          {0, 58, 0, "ICMPv6 protocol", "unchanged"}});
  // Ports keep their last owner until another one takes them.
  const std::uint64_t generation = sources.Generation();
  owners.SetOwners({});  // the program closed its socket
  ASSERT_TRUE(sources.RunPass());
  EXPECT_EQ(sources.Generation(), generation);
  EXPECT_EQ(sources.LookupLocalSource(5000, 6), "app.bin(1234): 5000");
  owners.SetOwners({{5000, true, 2, true, "second", "/bin/second"}});
  ASSERT_TRUE(sources.RunPass());
  EXPECT_NE(sources.Generation(), generation);
  EXPECT_EQ(sources.LookupLocalSource(5000, 17), "second(2): 5000");
  // Without tables every packet gets a protocol text.
  testing::FakeOwnerSource failing;
  failing.Fail(true);
  LocalSources without(failing, clock);
  EXPECT_FALSE(without.RunPass());
  EXPECT_EQ(without.LookupLocalSource(443, 6), "TCP protocol: 443");
}

// The socket tables, with owners as kernel events report them by (UDP,
// port, bound address) in front.
class FakeTrackedOwners final : public OwnerSource {
 public:
  explicit FakeTrackedOwners(OwnerSource& tables) : tables_(tables) {}
  void Set(bool udp, std::uint16_t port, Ipv4Address address, SocketOwner owner) {
    owners_[{udp, port, address}] = std::move(owner);
    ++events_;
  }
  bool ReadOwners(std::vector<SocketOwner>& owners) override { return tables_.ReadOwners(owners); }
  bool TracksSockets() const override { return true; }
  OwnerLookup FindOwner(bool udp, std::uint16_t port, Ipv4Address localAddress, SocketOwner& owner) override {
    for (const Ipv4Address address : {localAddress, Ipv4Address{0}}) {
      const auto found = owners_.find({udp, port, address});
      if (found == owners_.end()) continue;
      owner = found->second;
      return OwnerLookup::kFound;
    }
    return OwnerLookup::kNone;
  }
  std::uint64_t OwnerEvents() const override { return events_; }

 private:
  OwnerSource& tables_;
  std::map<std::tuple<bool, std::uint16_t, Ipv4Address>, SocketOwner> owners_;
  std::uint64_t events_ = 0;
};

// Kernel events answer first, the connection table next, the protocol text last.
TEST_F(LocalSourcesTest, KernelEventsFirstThenTheTableThenTheProtocol) {
  const Ipv4Address local = MakeIpv4(198, 18, 0, 1);
  FakeTrackedOwners tracker(owners);
  LocalSources both(tracker, clock);
  EXPECT_EQ(both.AttributionName(), "kernel events");
  EXPECT_EQ(sources.AttributionName(), "connection table");
  owners.SetOwners({{5000, false, 1, true, "table", "/bin/table"}, {6000, false, 2, true, "stale", "/bin/stale"}});
  ASSERT_TRUE(both.RunPass());
  tracker.Set(false, 6000, local, {0, false, 30, true, "curl", "/usr/bin/curl"});
  tracker.Set(true, 6000, 0, {0, true, 31, true, "dns", ""});
  ExpectLookups(both,
                {{6000, 6, local, "curl(30): 6000", "/usr/bin/curl"},
                 {6000, 17, local, "dns(31): 6000", ""},  // bound to any address; gone processes keep their name
                 {6000, 6, MakeIpv4(198, 18, 0, 9), "stale(2): 6000", "/bin/stale"},  // another address: the table
                 {5000, 6, local, "table(1): 5000", "/bin/table"},
                 {7000, 17, local, "UDP protocol: 7000", "unchanged"}});
  // A port one program closed and another took: the new event makes
  // remembered texts stale, and the second program names it.
  LocalSourceCache cache(both);
  EXPECT_EQ(cache.Lookup(6000, 6, local).text, "curl(30): 6000");
  tracker.Set(false, 6000, local, {0, false, 40, true, "wget", "/usr/bin/wget"});
  EXPECT_EQ(cache.Lookup(6000, 6, local).text, "wget(40): 6000");
}

}  // namespace
}  // namespace quorvel
