// Parse + AccountPacket speed for established flows, and memory per flow,
// for IPv4 (argument 4) and IPv6 (argument 6).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <vector>

#include "attribution/local_sources.h"
#include "engine/accounting.h"
#include "engine/capture_loop.h"
#include "engine/traffic_names.h"
#include "support/fake_platform.h"
#include "support/name_packets.h"
#include "support/packet_builder.h"

namespace quorvel {
namespace {

const Ipv4Address kLocal = MakeIpv4(198, 18, 0, 1);
const IpAddress kLocal6 = testing::Ipv6("2001:db8:1::2");

IpAddress Remote6(int i) {
  IpAddress remote = testing::Ipv6("2001:db8:ff::");
  remote.bytes[13] = static_cast<std::uint8_t>(i >> 16);
  remote.bytes[14] = static_cast<std::uint8_t>(i >> 8);
  remote.bytes[15] = static_cast<std::uint8_t>(i);
  return remote;
}

void SetLocalAddresses(EngineState& engine) {
  engine.settings.interfaceAddress = kLocal;
  // A typical host: global, temporary and link-local addresses.
  engine.settings.interfaceIpv6Addresses.Set(
      {{testing::Ipv6("fe80::2"), 64}, {testing::Ipv6("2001:db8:1::abcd:2"), 64}, {kLocal6, 64}});
}

std::vector<std::vector<std::uint8_t>> EstablishedFlows(int flows, bool ipv6) {
  std::vector<std::vector<std::uint8_t>> packets;
  for (int i = 0; i < flows; ++i) {
    const auto port = static_cast<std::uint16_t>(20000 + i);
    if (ipv6) {
      packets.push_back(testing::BuildIpv6Packet({Remote6(i), kLocal6, {}, 6, 443, port, true, "0123456789"}));
      packets.push_back(testing::BuildIpv6Packet({kLocal6, Remote6(i), {}, 6, port, 443, true, "ack"}));
      continue;
    }
    const Ipv4Address remote = MakeIpv4(198, 19, static_cast<std::uint8_t>(i >> 8),
                                        static_cast<std::uint8_t>(i));
    packets.push_back(testing::BuildIpv4Packet({remote, kLocal, 6, 443, port, 5, "0123456789"}));
    packets.push_back(testing::BuildIpv4Packet({kLocal, remote, 6, port, 443, 5, "ack"}));
  }
  return packets;
}

void BM_ParseAndAccount(benchmark::State& state) {
  testing::FakePlatform fakes;
  SystemClock clock;
  EngineState engine;
  SetLocalAddresses(engine);
  std::vector<SocketOwner> owners;
  for (int i = 0; i < 1000; ++i) {
    owners.push_back({static_cast<std::uint16_t>(20000 + i), false, 4000 + i, true, "browser",
                      "/usr/bin/browser"});
  }
  fakes.owners.SetOwners(owners);
  LocalSources sources(fakes.owners, clock);
  sources.RunPass();
  Accountant accountant(engine, sources, clock);
  CaptureLoop loop(accountant);
  const auto packets = EstablishedFlows(1000, state.range(0) == 6);
  for (const auto& packet : packets) loop.OnPacket(packet.data(), packet.size());  // flows exist
  std::size_t next = 0;
  for (auto _ : state) {
    const auto& packet = packets[next];
    loop.OnPacket(packet.data(), packet.size());
    next = next + 1 == packets.size() ? 0 : next + 1;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["ns_per_packet"] = benchmark::Counter(
      static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["flows"] = static_cast<double>(engine.stats.flows.size());
}
BENCHMARK(BM_ParseAndAccount)->ArgName("ip")->Arg(4)->Arg(6);

// The test every accounted packet passes through for host names, on packets
// that carry none: TLS application data, plain UDP, incoming TCP, bare ACKs.
void BM_NameTestWithoutNames(benchmark::State& state) {
  const Ipv4Address remote = MakeIpv4(198, 19, 0, 1);
  std::vector<std::vector<std::uint8_t>> packets = {
      testing::BuildIpv4Packet({kLocal, remote, 6, 40000, 443, 5, std::string("\x17\x03\x03\x01\x00") + "data"}),
      testing::BuildIpv4Packet({remote, kLocal, 6, 443, 40000, 5, std::string(1200, 'x')}),
      testing::BuildIpv4Packet({kLocal, remote, 17, 40001, 4500, 5, std::string(100, 'u')}),
      testing::BuildIpv4Packet({kLocal, remote, 6, 40000, 443, 5, ""}),
      testing::BuildIpv4Packet({kLocal, remote, 17, 40002, 443, 5, std::string(1200, '\x45')}),  // QUIC short header
  };
  std::vector<PacketFacts> facts;
  for (const auto& packet : packets) facts.push_back(*ParsePacket(packet.data(), packet.size()));
  const TrafficNameReader reader;
  std::size_t next = 0;
  std::size_t named = 0;
  for (auto _ : state) {
    const PacketFacts& packet = facts[next];
    named += reader.MayCarryName(packet, packet.source == kLocal) ? 1 : 0;
    benchmark::DoNotOptimize(named);
    next = next + 1 == facts.size() ? 0 : next + 1;
  }
  state.counters["ns_per_packet"] = benchmark::Counter(
      static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["named"] = static_cast<double>(named);
}
BENCHMARK(BM_NameTestWithoutNames);

// Parse and account a replay in which every tenth packet is a DNS response
// (a CNAME and two addresses), the others established flows.
void BM_DnsHeavyReplay(benchmark::State& state) {
  testing::FakePlatform fakes;
  SystemClock clock;
  EngineState engine;
  engine.settings.interfaceAddress = kLocal;
  LocalSources sources(fakes.owners, clock);
  Accountant accountant(engine, sources, clock);
  CaptureLoop loop(accountant);
  std::vector<std::vector<std::uint8_t>> packets;
  const auto flows = EstablishedFlows(450, false);
  for (std::size_t i = 0; i < 1000; ++i) {
    if (i % 10 == 9) {
      const auto n = static_cast<std::uint8_t>(i / 10);
      const std::string name = "host" + std::to_string(i) + ".example.com";
      const auto dns = testing::BuildDnsResponse(
          name, {testing::CnameRecord(name, "edge.cdn.test"), testing::ARecord("edge.cdn.test", 198, 20, n, 1),
                 testing::ARecord("edge.cdn.test", 198, 20, n, 2)});
      packets.push_back(testing::BuildIpv4Packet(
          {MakeIpv4(198, 18, 0, 53), kLocal, 17, 53, 5353, 5, std::string(dns.begin(), dns.end())}));
    } else {
      packets.push_back(flows[i % flows.size()]);
    }
  }
  for (const auto& packet : packets) loop.OnPacket(packet.data(), packet.size());  // flows exist
  std::size_t next = 0;
  for (auto _ : state) {
    const auto& packet = packets[next];
    loop.OnPacket(packet.data(), packet.size());
    next = next + 1 == packets.size() ? 0 : next + 1;
  }
  state.counters["ns_per_packet"] = benchmark::Counter(
      static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["names"] = static_cast<double>(engine.stats.observedNames.Size());
}
BENCHMARK(BM_DnsHeavyReplay);

// Heap bytes per flow for one million distinct flows, beyond the local
// source text itself.
void BM_MemoryPerFlow(benchmark::State& state) {
  for (auto _ : state) {
    testing::FakePlatform fakes;
    EngineState engine;
    SetLocalAddresses(engine);
    const bool ipv6 = state.range(0) == 6;
    LocalSources sources(fakes.owners, fakes.clock);
    Accountant accountant(engine, sources, fakes.clock);
    CaptureLoop loop(accountant);
    constexpr int kFlows = 1'000'000;
    const std::size_t before = mallinfo2().uordblks;
    auto packet = ipv6 ? testing::BuildIpv6Packet({kLocal6, Remote6(0), {}, 17, 0, 53})
                       : testing::BuildIpv4Packet({kLocal, 0, 17, 0, 53, 5, ""});
    const std::size_t portAt = ipv6 ? 40 : 20;
    for (int i = 0; i < kFlows; ++i) {
      if (ipv6) {
        std::memcpy(&packet[24], Remote6(i).bytes.data(), 16);
      } else {
        const Ipv4Address remote = MakeIpv4(10, static_cast<std::uint8_t>(i >> 16),
                                            static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i));
        std::memcpy(&packet[16], &remote, 4);
      }
      const std::uint16_t port = static_cast<std::uint16_t>(1024 + (i % 16));
      packet[portAt] = static_cast<std::uint8_t>(port >> 8);
      packet[portAt + 1] = static_cast<std::uint8_t>(port);
      loop.OnPacket(packet.data(), packet.size());
    }
    std::size_t sourceText = 0;
    for (const auto& [key, flow] : engine.stats.flows) {
      if (key.localSource.capacity() > 15) sourceText += key.localSource.capacity() + 1;
    }
    const std::size_t after = mallinfo2().uordblks;
    // The event queue and remote maps hold one entry per flow too; count
    // the flow table alone by taking them out.
    const std::size_t queued = engine.events.size();
    engine.events.clear();
    engine.events.shrink_to_fit();
    engine.stats.uploadRemotes = {};
    const std::size_t flowsOnly = mallinfo2().uordblks;
    state.counters["bytes_per_flow_all"] = static_cast<double>(after - before) / kFlows;
    state.counters["bytes_per_flow_table"] =
        static_cast<double>(flowsOnly - before - sourceText) / kFlows;
    state.counters["queued_events"] = static_cast<double>(queued);
    state.counters["sizeof_key_and_flow"] = static_cast<double>(sizeof(FlowKey) + sizeof(TrafficFlow));
  }
}
BENCHMARK(BM_MemoryPerFlow)->ArgName("ip")->Arg(4)->Arg(6)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
