#include "engine/accounting.h"

#include <gtest/gtest.h>

#include "attribution/local_sources.h"
#include "common/format.h"
#include "engine/engine_state.h"
#include "engine/host_resolver.h"
#include "engine/worker.h"
#include "support/fake_platform.h"
#include "support/packet_builder.h"

namespace quorvel {
namespace {

using testing::BuildIpv4Packet;
using testing::Ipv6;
using testing::PacketSpec;

const Ipv4Address kLocal = MakeIpv4(192, 168, 1, 2);
const Ipv4Address kRemote = MakeIpv4(203, 0, 113, 9);
const Ipv4Address kOther = MakeIpv4(203, 0, 113, 10);

class AccountingTest : public ::testing::Test {
 protected:
  AccountingTest() { state.settings.interfaceAddress = kLocal; }
  // Accounts the packet and returns its length.
  std::uint64_t AccountBytes(const std::vector<std::uint8_t>& bytes) {
    const auto facts = ParsePacket(bytes.data(), bytes.size());
    EXPECT_TRUE(facts);
    if (facts) accountant.AccountPacket(*facts);
    return bytes.size();
  }
  std::uint64_t Account(const PacketSpec& shape) { return AccountBytes(BuildIpv4Packet(shape)); }
  std::uint64_t Account6(const testing::Ipv6PacketSpec& shape) { return AccountBytes(testing::BuildIpv6Packet(shape)); }
  const TrafficFlow* Flow(const std::string& source, std::uint32_t localPort, Ipv4Address remote, std::uint32_t port) {
    const auto it = state.stats.flows.find(FlowKeyView(source, localPort, remote, port));
    return it == state.stats.flows.end() ? nullptr : &it->second;
  }
  void Reset(bool hideLan) {
    state.stats = TrafficStats{};
    state.events.clear();
    state.settings.hideLanFlows = hideLan;
  }
  // Checks that the one packet accounted since Reset made one flow of that
  // source, remote text and direction (or none), with the remote's totals.
  void ExpectOnly(const char* localSource, bool upload, const std::string& remote, std::uint64_t length) {
    ASSERT_EQ(state.stats.flows.size(), localSource ? 1u : 0u);
    EXPECT_EQ(state.events.size(), localSource ? 1u : 0u);
    EXPECT_EQ(state.stats.tickUpload, localSource && upload ? length : 0u);
    EXPECT_EQ(state.stats.tickDownload, localSource && !upload ? length : 0u);
    if (!localSource) return;
    const auto& [key, flow] = *state.stats.flows.begin();
    EXPECT_EQ(key.localSource, localSource);
    EXPECT_EQ(IpToText(key.remoteAddress), remote);
    EXPECT_EQ(upload ? flow.upload : flow.download, length);
    EXPECT_EQ(upload ? flow.download : flow.upload, 0u);
    const RemoteMap& remotes = upload ? state.stats.uploadRemotes : state.stats.downloadRemotes;
    ASSERT_EQ(remotes.size(), 1u);
    EXPECT_EQ(remotes.begin()->second.displayName, remote);
    EXPECT_EQ(remotes.begin()->second.bytes, length);
  }

  testing::FakePlatform fakes;
  EngineState state;
  LocalSources sources{fakes.owners, fakes.clock};
  Accountant accountant{state, sources, fakes.clock};
};

TEST_F(AccountingTest, DirectionMulticastAndLocalNetwork) {
  state.settings.interfaceIpv6Addresses.Set({{Ipv6("2001:db8:1::2"), 64},
                                             {Ipv6("2001:db8:1:0:abcd::77"), 64},  // temporary
                                             {Ipv6("fd00:5::2"), 48},
                                             {Ipv6("fe80::2"), 64}});
  const char *local = "192.168.1.2", *neighbour = "192.168.1.5", *remote = "203.0.113.9";
  const char *tcp = "TCP protocol: 5000", *udp = "UDP protocol: 5000";
  const std::uint32_t classC = MakeIpv4(255, 255, 255, 0);
  const struct {
    const char *name, *source, *destination;
    std::uint8_t protocol;
    bool hideLan;
    const char* localSource;  // nullptr: not counted
    bool upload;
    std::uint32_t mask = 0xFFFFFFFF;
  } cases[] = {
      {"outgoing", local, remote, 6, false, tcp, true},
      {"incoming", remote, local, 6, false, tcp, false},
      {"third-party traffic", remote, "203.0.113.10", 6, false, nullptr, false},
      {"broadcast from another host", neighbour, "255.255.255.255", 17, false, nullptr, false},
      {"incoming multicast", neighbour, "239.1.2.3", 17, false, udp, false},
      {"incoming multicast, LAN hidden", neighbour, "239.1.2.3", 17, true, nullptr, false},
      {"outgoing multicast, LAN hidden", local, "239.1.2.3", 17, true, nullptr, false},
      {"neighbour with /24 mask, LAN hidden", neighbour, local, 6, true, nullptr, false, classC},
      {"neighbour with default mask, LAN hidden", neighbour, local, 6, true, tcp, false},
      {"neighbour with /24 mask, LAN shown", neighbour, local, 6, false, tcp, false, classC},
      {"to itself with default mask, LAN hidden", local, local, 6, true, nullptr, false},
      {"ipv6 outgoing", "2001:db8:1::2", "2001:db8:ff::9", 6, false, tcp, true},
      {"ipv6 incoming to a temporary address", "2001:db8:ff::9", "2001:db8:1:0:abcd::77", 6, false, tcp, false},
      {"unique-local outgoing", "fd00:5::2", "fd00:9::1", 17, false, udp, true},
      {"ipv6 third-party traffic", "2001:db8:ff::9", "2001:db8:ff::10", 6, false, nullptr, false},
      {"ipv6 incoming multicast", "fe80::5", "ff02::fb", 17, false, udp, false},
      {"ipv6 incoming multicast, LAN hidden", "2001:db8:ff::9", "ff02::fb", 17, true, nullptr, false},
      {"ipv6 outgoing multicast, LAN hidden", "2001:db8:1::2", "ff05::2", 17, true, nullptr, false},
      {"link-local, LAN shown", "fe80::5", "fe80::2", 58, false, "ICMPv6 protocol", false},
      {"link-local, LAN hidden", "fe80::2", "fe80::5", 58, true, nullptr, false},
      {"same /64, LAN hidden", "2001:db8:1::5", "2001:db8:1::2", 6, true, nullptr, false},
      {"same /48 of a unique-local address, LAN hidden", "fd00:5:0:7::1", "fd00:5::2", 6, true, nullptr, false},
      {"other prefix, LAN hidden", "2001:db8:2::5", "2001:db8:1::2", 6, true, tcp, false},
      {"ipv4-mapped text", "2001:db8:1::2", "::ffff:198.51.100.7", 6, false, tcp, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset(c.hideLan);
    state.settings.networkMask = c.mask;
    const IpAddress from = *ParseIp(c.source), to = *ParseIp(c.destination);
    // The local end is port 5000 whichever way the packet goes.
    const std::uint16_t sourcePort = c.upload ? 5000 : 443, destinationPort = c.upload ? 443 : 5000;
    const std::uint64_t length =
        from.IsIpv4() ? Account({from.Ipv4(), to.Ipv4(), c.protocol, sourcePort, destinationPort, 5, "abc"})
                      : Account6({from, to, {}, c.protocol, sourcePort, destinationPort, true, "abc"});
    ExpectOnly(c.localSource, c.upload, c.upload ? c.destination : c.source, length);
  }
  // IPv6 addresses that come and go are followed.
  Reset(false);
  const auto upload = [&](const char* source) {
    Account6({Ipv6(source), Ipv6("2001:db8:ff::9"), {}, 6, 5000, 443});
    return state.stats.tickUpload;
  };
  state.settings.interfaceIpv6Addresses.Set({});
  EXPECT_EQ(upload("2001:db8:1::2"), 0u);
  state.settings.interfaceIpv6Addresses.Set({{Ipv6("2001:db8:1::2"), 64}});
  EXPECT_EQ(upload("2001:db8:1::2"), 60u);
  state.settings.interfaceIpv6Addresses.Set({{Ipv6("2001:db8:1::3"), 64}});
  EXPECT_EQ(upload("2001:db8:1::2"), 60u);
  EXPECT_EQ(upload("2001:db8:1::3"), 120u);
}

TEST_F(AccountingTest, FlowKeysEventsAndOwners) {
  // Both directions of one connection share a flow; ICMP of a remote is one flow without ports.
  Account({kLocal, kRemote, 6, 5000, 443, 5, "hello"});
  Account({kRemote, kLocal, 6, 443, 5000, 5, "welcome!"});
  Account({kRemote, kLocal, 1, 0, 0, 5, "echo"});
  Account({kLocal, kRemote, 1, 0, 0, 5, "echo"});
  ASSERT_EQ(state.stats.flows.size(), 2u);
  EXPECT_EQ(Flow("TCP protocol: 5000", 5000, kRemote, 443)->upload, 45u);
  EXPECT_EQ(Flow("TCP protocol: 5000", 5000, kRemote, 443)->download, 48u);
  EXPECT_EQ(Flow("ICMP protocol", 0, kRemote, 0)->upload, 24u);

  // One event per flow and second, every packet still counted.
  Reset(false);
  for (int i = 0; i < 5; ++i) Account({kLocal, kRemote, 6, 5000, 80});
  Account({kLocal, kOther, 6, 5000, 80});
  ASSERT_EQ(state.events.size(), 2u);
  fakes.clock.Advance(1000);
  Account({kLocal, kRemote, 6, 5000, 80});
  ASSERT_EQ(state.events.size(), 3u);
  EXPECT_EQ(state.events[0].key, (FlowKey{"TCP protocol: 5000", 5000, kRemote, 80}));
  EXPECT_EQ(state.events[0].protocol, 6);
  EXPECT_EQ(state.events[1].key.remoteAddress, kOther);
  EXPECT_EQ(state.events[2].time, state.events[0].time + 1);
  EXPECT_EQ(Flow("TCP protocol: 5000", 5000, kRemote, 80)->upload, 6u * 40);
  // A cleared table queues the next packet again.
  state.stats.ClearFlows();
  Account({kLocal, kRemote, 6, 5000, 80});
  EXPECT_EQ(state.events.size(), 4u);

  // The port's owner names the flow; a later owner renames new packets' flows.
  Reset(false);
  fakes.owners.SetOwners({{5000, false, 1234, true, "app", "/usr/bin/app"}});
  ASSERT_TRUE(sources.RunPass());
  Account({kLocal, kRemote, 6, 5000, 80});
  fakes.owners.SetOwners({{5000, true, 99, true, "other", "/bin/other"}});
  ASSERT_TRUE(sources.RunPass());
  Account({kLocal, kRemote, 6, 5000, 80});
  EXPECT_NE(Flow("app(1234): 5000", 5000, kRemote, 80), nullptr);
  EXPECT_NE(Flow("other(99): 5000", 5000, kRemote, 80), nullptr);
  EXPECT_EQ(state.stats.flows.size(), 2u);
}

TEST_F(AccountingTest, CountersDoNotWrapAt4GiB) {
  for (int i = 0; i < 70000; ++i) Account({kRemote, kLocal, 17, 53, 40000, 5, "", 65535});
  EXPECT_EQ(state.stats.tickDownload, 70000ull * 65535);
  EXPECT_EQ(Flow("UDP protocol: 40000", 40000, kRemote, 53)->download, 70000ull * 65535);
  EXPECT_EQ(state.stats.downloadRemotes.at(kRemote).bytes, 70000ull * 65535);
}

TEST_F(AccountingTest, SpyFeedSeesAccountedPacketsWithinTheirBytes) {
  struct Recorder : SpyListener {
    void OnSpyPacket(const SpyPacket& packet) override {
      ASSERT_LE(packet.data, packet.receivedEnd);
      seen.push_back(std::string(packet.localSource) + " " + std::to_string(packet.length) + " " +
                     std::to_string(packet.receivedEnd - packet.data));
    }
    std::vector<std::string> seen;
  } recorder;
  state.spy.Register(&recorder);
  Account({kLocal, kRemote, 6, 5000, 80, 5, "GET / HTTP/1.0\r\n"});
  Account({kRemote, kOther, 6, 80, 5000, 5, "not ours"});
  Account({kRemote, kLocal, 1, 0, 0, 5, "ping"});
  // IPv6: TCP from its data on, everything else from the IPv6 header on.
  const IpAddress local6 = Ipv6("2001:db8::7"), remote6 = Ipv6("2001:db8:9::1");
  state.settings.interfaceIpv6Addresses.Set({{local6, 64}});
  Account6({local6, remote6, {{0, 8}}, 6, 5001, 80, true, "GET / HTTP/1.0\r\n"});
  Account6({remote6, local6, {}, 58, 0, 0, true, "ping"});
  state.spy.Unregister();
  Account({kLocal, kRemote, 6, 5000, 80, 5, "after"});
  EXPECT_EQ(recorder.seen, (std::vector<std::string>{"TCP protocol: 5000 56 16", "ICMP protocol 24 24",
                                                     "TCP protocol: 5001 84 16", "ICMPv6 protocol 44 44"}));
}

// A connection whose first packets came before its owner was known: its
// later packets, named by the owner, take over the first guess's bytes,
// first activity and row.
TEST_F(AccountingTest, AFirstGuessFlowMovesToItsOwner) {
  const std::int64_t start = fakes.clock.NowSeconds();
  const struct {
    const char* name;
    bool rowBeforeOwner;      // the worker made the guess's row before the owner was known
    std::int64_t ownerAfter;  // seconds from the first packet to the first named one
    std::uint16_t namedRemotePort;
    const char* hiddenSource;  // black-listed local source, or null
    std::size_t flows;
    std::vector<std::string> uploads;  // UL column of the rows, all "app(9): 6000"
  } cases[] = {
      {"before its row", false, 1, 443, nullptr, 1, {"200 B"}},
      {"after its row", true, 5, 443, nullptr, 1, {"200 B"}},
      {"owner hidden by a filter", true, 5, 443, "app", 1, {}},
      // Rows show the port's owner at row time, so the guess's row is named too.
      {"another connection", false, 1, 8443, nullptr, 2, {"100 B", "100 B"}},
      {"guess idle too long", false, Accountant::kGuessLifeSeconds + 1, 443, nullptr, 2, {"100 B"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EngineState engine;
    engine.settings.interfaceAddress = kLocal;
    if (c.hiddenSource) engine.filters = FilterSet{{FilterRule{"<ANY>", c.hiddenSource}}, FilterMode::kBlackList};
    testing::FakeOwnerSource owners;
    LocalSources names(owners, fakes.clock);
    Accountant counting(engine, names, fakes.clock);
    HostResolverPool resolver(engine, fakes.names, fakes.clock, 1);
    Worker worker(engine, names, resolver, fakes.names, fakes.clock, DayLogSaver{});  // no midnight here
    const auto account = [&](const PacketSpec& shape) {
      const auto bytes = BuildIpv4Packet(shape);
      counting.AccountPacket(*ParsePacket(bytes.data(), bytes.size()));
    };
    fakes.clock.SetSeconds(start);
    account({kLocal, kRemote, 6, 6000, 443, 5, std::string(60, 'x')});
    account({kRemote, kLocal, 6, 443, 6000, 5, std::string(20, 'y')});
    if (c.rowBeforeOwner) {
      fakes.clock.SetSeconds(start + 3);
      worker.RunCycle();
    }
    owners.SetOwners({{6000, false, 9, true, "app", "/usr/bin/app"}});
    ASSERT_TRUE(names.RunPass());
    fakes.clock.SetSeconds(start + c.ownerAfter);
    account({kLocal, kRemote, 6, 6000, c.namedRemotePort, 5, std::string(60, 'z')});
    fakes.clock.SetSeconds(start + c.ownerAfter + 3);
    worker.RunCycle();

    EXPECT_EQ(engine.stats.flows.size(), c.flows);
    std::vector<std::string> uploads;
    for (const auto& entry : *engine.rows.Snapshot().rows) {
      const FlowRowTexts& texts = entry.row->columns;
      uploads.push_back(texts[kColumnUpload]);
      EXPECT_EQ(texts[kColumnLocalSource], "app(9): 6000");
      EXPECT_EQ(texts[kColumnFullPath], "/usr/bin/app");
      if (c.flows == 1) {
        EXPECT_EQ(texts[kColumnDownload], "60 B");
        EXPECT_EQ(texts[kColumnFirstActivity], FormatTimestamp(start));
      }
    }
    EXPECT_EQ(uploads, c.uploads);
    // Every byte is counted once whatever happened to the flows.
    std::uint64_t total = 0;
    for (const auto& [key, flow] : engine.stats.flows) total += flow.upload + flow.download;
    EXPECT_EQ(total, 260u);
  }
}

}  // namespace
}  // namespace quorvel
