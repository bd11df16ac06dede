#include "engine/accounting.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/host_resolver.h"
#include "attribution/local_sources.h"
#include "common/format.h"
#include "engine/engine_state.h"
#include "engine/worker.h"
#include "support/fake_platform.h"
#include "support/packet_builder.h"

namespace quorvel {
namespace {

using testing::BuildIpv4Packet;
using testing::FakePlatform;
using testing::PacketSpec;

const Ipv4Address kLocal = MakeIpv4(192, 168, 1, 2);
const Ipv4Address kNeighbour = MakeIpv4(192, 168, 1, 5);
const Ipv4Address kRemote = MakeIpv4(203, 0, 113, 9);
const Ipv4Address kOther = MakeIpv4(203, 0, 113, 10);
const Ipv4Address kGroup = MakeIpv4(239, 1, 2, 3);
const Ipv4Address kBroadcast = MakeIpv4(255, 255, 255, 255);

class AccountingTest : public ::testing::Test {
 protected:
  AccountingTest() : sources(fakes.owners, fakes.clock), accountant(state, sources, fakes.clock) {
    state.settings.interfaceAddress = kLocal;
  }

  void Account(const PacketSpec& shape) {
    const auto bytes = BuildIpv4Packet(shape);
    const auto facts = ParsePacket(bytes.data(), bytes.size());
    ASSERT_TRUE(facts);
    accountant.AccountPacket(*facts);
  }

  const TrafficFlow* Flow(const std::string& source, std::uint32_t localPort, Ipv4Address remote,
                          std::uint32_t remotePort) {
    const auto it = state.stats.flows.find(FlowKeyView(source, localPort, remote, remotePort));
    return it == state.stats.flows.end() ? nullptr : &it->second;
  }

  FakePlatform fakes;
  EngineState state;
  LocalSources sources;
  Accountant accountant;
};

struct DirectionCase {
  const char* name;
  PacketSpec shape;
  bool hideLan;
  std::uint32_t mask;
  bool counted;
  bool upload;
};

TEST_F(AccountingTest, DirectionMulticastAndLocalNetwork) {
  const std::uint32_t kClassC = MakeIpv4(255, 255, 255, 0);
  const DirectionCase cases[] = {
      {"outgoing", {kLocal, kRemote, 6, 5000, 80, 5, "x"}, false, 0xFFFFFFFF, true, true},
      {"incoming", {kRemote, kLocal, 6, 80, 5000, 5, "x"}, false, 0xFFFFFFFF, true, false},
      {"third-party traffic", {kRemote, kOther, 6, 80, 5000, 5, ""}, false, 0xFFFFFFFF, false, false},
      {"broadcast from another host", {kNeighbour, kBroadcast, 17, 68, 67, 5, ""}, false, 0xFFFFFFFF,
       false, false},
      {"incoming multicast", {kNeighbour, kGroup, 17, 5353, 5353, 5, ""}, false, 0xFFFFFFFF, true, false},
      {"incoming multicast, LAN hidden", {kNeighbour, kGroup, 17, 5353, 5353, 5, ""}, true, 0xFFFFFFFF,
       false, false},
      {"outgoing multicast, LAN hidden", {kLocal, kGroup, 17, 5353, 5353, 5, ""}, true, 0xFFFFFFFF, false,
       false},
      {"neighbour with /24 mask, LAN hidden", {kNeighbour, kLocal, 6, 80, 5000, 5, ""}, true, kClassC,
       false, false},
      {"neighbour with default mask, LAN hidden", {kNeighbour, kLocal, 6, 80, 5000, 5, ""}, true,
       0xFFFFFFFF, true, false},
      {"neighbour with /24 mask, LAN shown", {kNeighbour, kLocal, 6, 80, 5000, 5, ""}, false, kClassC,
       true, false},
      {"to itself with default mask, LAN hidden", {kLocal, kLocal, 6, 80, 5000, 5, ""}, true, 0xFFFFFFFF,
       false, false},
  };
  for (const DirectionCase& c : cases) {
    SCOPED_TRACE(c.name);
    state.stats = TrafficStats{};
    state.events.clear();
    state.settings.hideLanFlows = c.hideLan;
    state.settings.networkMask = c.mask;
    Account(c.shape);
    const std::uint64_t length = BuildIpv4Packet(c.shape).size();
    EXPECT_EQ(state.stats.flows.size(), c.counted ? 1u : 0u);
    EXPECT_EQ(state.events.size(), c.counted ? 1u : 0u);
    EXPECT_EQ(state.stats.tickUpload, c.counted && c.upload ? length : 0u);
    EXPECT_EQ(state.stats.tickDownload, c.counted && !c.upload ? length : 0u);
    if (!c.counted) continue;
    const TrafficFlow& flow = state.stats.flows.begin()->second;
    EXPECT_EQ(flow.upload, c.upload ? length : 0u);
    EXPECT_EQ(flow.download, c.upload ? 0u : length);
    const RemoteMap& remotes = c.upload ? state.stats.uploadRemotes : state.stats.downloadRemotes;
    const Ipv4Address remote = c.upload ? c.shape.destination : c.shape.source;
    ASSERT_EQ(remotes.count(remote), 1u);
    EXPECT_EQ(remotes.at(remote).displayName, Ipv4ToText(remote));
    EXPECT_EQ(remotes.at(remote).bytes, length);
  }
}

struct Ipv6Case {
  const char* name;
  const char* source;
  const char* destination;
  std::uint8_t protocol;
  bool hideLan;
  const char* localSource;  // nullptr: not counted
  bool upload;
  const char* remoteText;
};

TEST_F(AccountingTest, Ipv6DirectionMulticastAndLocalNetwork) {
  using testing::Ipv6;
  state.settings.interfaceIpv6Addresses.Set({{Ipv6("2001:db8:1::2"), 64},
                                             {Ipv6("2001:db8:1:0:abcd::77"), 64},  // temporary
                                             {Ipv6("fd00:5::2"), 48},
                                             {Ipv6("fe80::2"), 64}});
  const Ipv6Case cases[] = {
      {"outgoing", "2001:db8:1::2", "2001:db8:ff::9", 6, false, "TCP protocol: 5000", true,
       "2001:db8:ff::9"},
      {"incoming to a temporary address", "2001:db8:ff::9", "2001:db8:1:0:abcd::77", 6, false,
       "TCP protocol: 5000", false, "2001:db8:ff::9"},
      {"unique-local outgoing", "fd00:5::2", "fd00:9::1", 17, false, "UDP protocol: 5000", true,
       "fd00:9::1"},
      {"third-party traffic", "2001:db8:ff::9", "2001:db8:ff::10", 6, false, nullptr, false, ""},
      {"incoming multicast", "fe80::5", "ff02::fb", 17, false, "UDP protocol: 5000", false, "fe80::5"},
      {"incoming multicast, LAN hidden", "2001:db8:ff::9", "ff02::fb", 17, true, nullptr, false, ""},
      {"outgoing multicast, LAN hidden", "2001:db8:1::2", "ff05::2", 17, true, nullptr, false, ""},
      {"link-local, LAN shown", "fe80::5", "fe80::2", 58, false, "ICMPv6 protocol", false, "fe80::5"},
      {"link-local, LAN hidden", "fe80::2", "fe80::5", 58, true, nullptr, false, ""},
      {"same /64, LAN hidden", "2001:db8:1::5", "2001:db8:1::2", 6, true, nullptr, false, ""},
      {"same /48 of a unique-local address, LAN hidden", "fd00:5:0:7::1", "fd00:5::2", 6, true, nullptr,
       false, ""},
      {"other prefix, LAN hidden", "2001:db8:2::5", "2001:db8:1::2", 6, true, "TCP protocol: 5000",
       false, "2001:db8:2::5"},
      {"ipv4-mapped text", "2001:db8:1::2", "::ffff:198.51.100.7", 6, false, "TCP protocol: 5000", true,
       "::ffff:198.51.100.7"},
  };
  for (const Ipv6Case& c : cases) {
    SCOPED_TRACE(c.name);
    state.stats = TrafficStats{};
    state.events.clear();
    state.settings.hideLanFlows = c.hideLan;
    const bool outgoing = c.upload;
    testing::Ipv6PacketSpec shape{Ipv6(c.source), Ipv6(c.destination), {}, c.protocol,
                                  static_cast<std::uint16_t>(outgoing ? 5000 : 443),
                                  static_cast<std::uint16_t>(outgoing ? 443 : 5000), true, "abc"};
    const auto bytes = testing::BuildIpv6Packet(shape);
    const auto facts = ParsePacket(bytes.data(), bytes.size());
    ASSERT_TRUE(facts);
    accountant.AccountPacket(*facts);
    ASSERT_EQ(state.stats.flows.size(), c.localSource ? 1u : 0u);
    if (!c.localSource) continue;
    const auto& [key, flow] = *state.stats.flows.begin();
    EXPECT_EQ(key.localSource, c.localSource);
    EXPECT_EQ(IpToText(key.remoteAddress), c.remoteText);
    EXPECT_EQ(c.upload ? flow.upload : flow.download, bytes.size());
    const RemoteMap& remotes = c.upload ? state.stats.uploadRemotes : state.stats.downloadRemotes;
    ASSERT_EQ(remotes.size(), 1u);
    EXPECT_EQ(remotes.begin()->second.displayName, c.remoteText);
  }
}

TEST_F(AccountingTest, Ipv6AddressesThatComeAndGoAreFollowed) {
  using testing::Ipv6;
  const auto account = [&](const char* source) {
    const auto bytes = testing::BuildIpv6Packet({Ipv6(source), Ipv6("2001:db8:ff::9"), {}, 6, 5000, 443});
    accountant.AccountPacket(*ParsePacket(bytes.data(), bytes.size()));
    return state.stats.tickUpload;
  };
  EXPECT_EQ(account("2001:db8:1::2"), 0u);
  state.settings.interfaceIpv6Addresses.Set({{Ipv6("2001:db8:1::2"), 64}});
  EXPECT_EQ(account("2001:db8:1::2"), 60u);
  state.settings.interfaceIpv6Addresses.Set({{Ipv6("2001:db8:1::3"), 64}});
  EXPECT_EQ(account("2001:db8:1::2"), 60u);
  EXPECT_EQ(account("2001:db8:1::3"), 120u);
}

TEST_F(AccountingTest, BothDirectionsOfOneConnectionShareAFlow) {
  Account({kLocal, kRemote, 6, 5000, 443, 5, "hello"});
  Account({kRemote, kLocal, 6, 443, 5000, 5, "welcome!"});
  ASSERT_EQ(state.stats.flows.size(), 1u);
  const TrafficFlow* flow = Flow("TCP protocol: 5000", 5000, kRemote, 443);
  ASSERT_NE(flow, nullptr);
  EXPECT_EQ(flow->upload, 45u);
  EXPECT_EQ(flow->download, 48u);
}

TEST_F(AccountingTest, IcmpOfOneRemoteIsOneFlowWithoutPorts) {
  Account({kRemote, kLocal, 1, 0, 0, 5, "echo"});
  Account({kLocal, kRemote, 1, 0, 0, 5, "echo"});
  ASSERT_NE(Flow("ICMP protocol", 0, kRemote, 0), nullptr);
  EXPECT_EQ(state.stats.flows.size(), 1u);
}

TEST_F(AccountingTest, CountersDoNotWrapAt4GiB) {
  for (int i = 0; i < 70000; ++i) Account({kRemote, kLocal, 17, 53, 40000, 5, "", 65535});
  EXPECT_EQ(state.stats.tickDownload, 70000ull * 65535);
  EXPECT_EQ(Flow("UDP protocol: 40000", 40000, kRemote, 53)->download, 70000ull * 65535);
  EXPECT_EQ(state.stats.downloadRemotes.at(kRemote).bytes, 70000ull * 65535);
}

TEST_F(AccountingTest, OneEventPerFlowAndSecond) {
  for (int i = 0; i < 5; ++i) Account({kLocal, kRemote, 6, 5000, 80, 5, ""});
  Account({kLocal, kOther, 6, 5000, 80, 5, ""});
  ASSERT_EQ(state.events.size(), 2u);
  fakes.clock.Advance(1000);
  Account({kLocal, kRemote, 6, 5000, 80, 5, ""});
  ASSERT_EQ(state.events.size(), 3u);
  EXPECT_EQ(state.events[0].key.remoteAddress, kRemote);
  EXPECT_EQ(state.events[1].key.remoteAddress, kOther);
  EXPECT_EQ(state.events[2].time, state.events[0].time + 1);
  EXPECT_EQ(state.events[0].key, (FlowKey{"TCP protocol: 5000", 5000, kRemote, 80}));
  EXPECT_EQ(state.events[0].protocol, 6);
  // Every packet is still counted.
  EXPECT_EQ(Flow("TCP protocol: 5000", 5000, kRemote, 80)->upload, 6u * 40);
}

TEST_F(AccountingTest, ClearedTableQueuesTheNextPacketAgain) {
  Account({kLocal, kRemote, 6, 5000, 80, 5, ""});
  state.stats.ClearFlows();
  Account({kLocal, kRemote, 6, 5000, 80, 5, ""});
  EXPECT_EQ(state.events.size(), 2u);
}

TEST_F(AccountingTest, OwnerTextsNameTheFlow) {
  fakes.owners.SetOwners({{5000, false, 1234, true, "app", "/usr/bin/app"}});
  ASSERT_TRUE(sources.RunPass());
  Account({kLocal, kRemote, 6, 5000, 80, 5, ""});
  EXPECT_NE(Flow("app(1234): 5000", 5000, kRemote, 80), nullptr);
  // A later owner of the port renames new packets' flows.
  fakes.owners.SetOwners({{5000, true, 99, true, "other", "/bin/other"}});
  ASSERT_TRUE(sources.RunPass());
  Account({kLocal, kRemote, 6, 5000, 80, 5, ""});
  EXPECT_NE(Flow("other(99): 5000", 5000, kRemote, 80), nullptr);
  EXPECT_EQ(state.stats.flows.size(), 2u);
}

TEST_F(AccountingTest, SpyFeedSeesAccountedPacketsWithinTheirBytes) {
  struct Recorder : SpyListener {
    void OnSpyPacket(const SpyPacket& packet) override {
      sources.emplace_back(packet.localSource);
      ASSERT_LE(packet.data, packet.receivedEnd);
      lengths.push_back(packet.length);
      available.push_back(packet.receivedEnd - packet.data);
    }
    std::vector<std::string> sources;
    std::vector<int> lengths;
    std::vector<std::ptrdiff_t> available;
  } recorder;
  state.spy.Register(&recorder);
  Account({kLocal, kRemote, 6, 5000, 80, 5, "GET / HTTP/1.0\r\n"});
  Account({kRemote, kOther, 6, 80, 5000, 5, "not ours"});
  Account({kRemote, kLocal, 1, 0, 0, 5, "ping"});
  // IPv6: TCP from its data on, everything else from the IPv6 header on.
  const IpAddress local6 = testing::Ipv6("2001:db8::7");
  state.settings.interfaceIpv6Addresses.Set({{local6, 64}});
  for (const auto& shape : {testing::Ipv6PacketSpec{local6, testing::Ipv6("2001:db8:9::1"), {{0, 8}}, 6, 5001, 80,
                                                   true, "GET / HTTP/1.0\r\n"},
                            testing::Ipv6PacketSpec{testing::Ipv6("2001:db8:9::1"), local6, {}, 58, 0, 0, true,
                                                   "ping"}}) {
    const auto bytes = testing::BuildIpv6Packet(shape);
    accountant.AccountPacket(*ParsePacket(bytes.data(), bytes.size()));
  }
  state.spy.Unregister();
  Account({kLocal, kRemote, 6, 5000, 80, 5, "after"});
  EXPECT_EQ(recorder.sources, (std::vector<std::string>{"TCP protocol: 5000", "ICMP protocol", "TCP protocol: 5001",
                                                        "ICMPv6 protocol"}));
  EXPECT_EQ(recorder.lengths, (std::vector<int>{56, 24, 84, 44}));
  EXPECT_EQ(recorder.available, (std::vector<std::ptrdiff_t>{16, 24, 16, 44}));
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
    std::vector<std::pair<std::string, std::string>> rows;  // local source, UL
  } cases[] = {
      {"before its row", false, 1, 443, nullptr, 1, {{"app(9): 6000", "200 B"}}},
      {"after its row", true, 5, 443, nullptr, 1, {{"app(9): 6000", "200 B"}}},
      {"owner hidden by a filter", true, 5, 443, "app", 1, {}},
      // Rows show the port's owner at row time, so the guess's row is named too.
      {"another connection", false, 1, 8443, nullptr, 2, {{"app(9): 6000", "100 B"}, {"app(9): 6000", "100 B"}}},
      {"guess idle too long", false, Accountant::kGuessLifeSeconds + 1, 443, nullptr, 2,
       {{"app(9): 6000", "100 B"}}},
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
    Worker worker(engine, names, resolver, fakes.names, fakes.clock, DayLogSaver{});  // no midnight in these cases
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
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto& entry : *engine.rows.Snapshot().rows) {
      const FlowRowTexts& texts = entry.row->columns;
      rows.emplace_back(texts[kColumnLocalSource], texts[kColumnUpload]);
      if (texts[kColumnLocalSource] == "app(9): 6000") {
        EXPECT_EQ(texts[kColumnFullPath], "/usr/bin/app");
      }
      if (c.flows == 1) {
        EXPECT_EQ(texts[kColumnDownload], "60 B");
        EXPECT_EQ(texts[kColumnFirstActivity], FormatTimestamp(start));
      }
    }
    EXPECT_EQ(rows, c.rows);
    // Every byte is counted once whatever happened to the flows.
    std::uint64_t total = 0;
    for (const auto& [key, flow] : engine.stats.flows) total += flow.upload + flow.download;
    EXPECT_EQ(total, 260u);
  }
}

}  // namespace
}  // namespace quorvel
