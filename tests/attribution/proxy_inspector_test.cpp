#include "attribution/proxy_inspector.h"

#include <gtest/gtest.h>

#include <vector>

#include "attribution/local_sources.h"
#include "engine/accounting.h"
#include "support/fake_platform.h"
#include "support/packet_builder.h"

namespace quorvel {
namespace {

using testing::BuildIpv4Packet;

TEST(ExtractHost, RequestTexts) {
  const std::pair<std::string, std::string> cases[] = {
      {"GET http://example.com/index.html HTTP/1.1", "example.com"},
      {"POST http://example.com:8080/form HTTP/1.0", "example.com:8080"},
      {"GET http://example.com HTTP/1.1", "example.com HTTP"},
      {"GET /relative HTTP/1.1", ""},
      {"GET http://no-end", ""},
      {"GET http:///path", ""},
      {"GET ftp://\xe9t\xe9/x", "\xc3\xa9t\xc3\xa9"},
      {"GET http://" + std::string(300, 'a') + "/ HTTP/1.1", std::string(255, 'a')},
  };
  for (const auto& [request, host] : cases) EXPECT_EQ(ExtractHost(request), host) << request;
}

TEST(TunnelHost, RequestTexts) {
  const std::pair<std::string, std::string> cases[] = {
      {"CONNECT www.example.com:443 HTTP/1.1\r\nHost: x\r\n", "www.example.com"},
      {"CONNECT 10.1.2.3:8443 HTTP/1.1", "10.1.2.3"},
      {"CONNECT [2001:db8::1]:443 HTTP/1.1", "[2001:db8::1]"},
      {"CONNECT noport\r\n", "noport"},
      {"GET http://example.com/ HTTP/1.1", ""},
      {" CONNECT a:1 HTTP/1.1", ""},
  };
  for (const auto& [request, host] : cases) EXPECT_EQ(TunnelHost(request), host) << request;
}

const Ipv4Address kLocal = MakeIpv4(10, 0, 0, 7);
const Ipv4Address kProxy = MakeIpv4(10, 0, 0, 1);

// One packet of a script: to the proxy (or from it), a second later or not.
struct Step {
  bool outgoing;
  std::string payload;
  bool nextSecond = false;
  std::uint16_t proxyPort = 3128;
};

struct Queued {
  std::string host;
  Direction direction;
  std::size_t packets;  // how many packets' lengths the event sums
};

TEST(ProxyInspector, RequestsNameTheHostOfTheirPortsPackets) {
  const struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<Queued> queued;
    std::size_t ordinaryPackets;  // accounted as flows with the proxy server
    bool proxyOff = false;
  } cases[] = {
      {"get then reply",
       {{true, "GET http://example.com/path HTTP/1.1\r\n\r\n"}, {false, "HTTP/1.1 200 OK", true}},
       {{"example.com", Direction::kOutgoing, 1}, {"example.com", Direction::kIncoming, 1}},
       0},
      {"connect tunnel",
       {{true, "CONNECT www.example.com:443 HTTP/1.1\r\n\r\n"}, {false, "\x16\x03\x01", true}},
       {{"www.example.com", Direction::kOutgoing, 1}, {"www.example.com", Direction::kIncoming, 1}},
       0},
      {"handshake before the request counts with the proxy",
       {{true, ""}, {false, "hello"}, {true, "GET http://example.com/ HTTP/1.1"}},
       {{"example.com", Direction::kOutgoing, 1}},
       2},
      {"later post switches the host",
       {{true, "GET http://one.example/ HTTP/1.1"}, {true, "POST http://two.example/f HTTP/1.1", true},
        {false, "ok"}},
       {{"one.example", Direction::kOutgoing, 1}, {"two.example", Direction::kOutgoing, 1},
        {"two.example", Direction::kIncoming, 1}},
       0},
      {"relative request keeps the host",
       {{true, "GET http://one.example/ HTTP/1.1"}, {true, "GET /next HTTP/1.1", true}},
       {{"one.example", Direction::kOutgoing, 1}, {"one.example", Direction::kOutgoing, 1}},
       0},
      {"zero byte ends the request text", {{true, std::string("x\0GET http://h.example/ HTTP/1.1", 32)}}, {}, 1},
      {"one second's packets merge",
       {{true, "GET http://example.com/ HTTP/1.1"}, {false, "part one"}, {true, "ack"}, {false, "part two!"}},
       {{"example.com", Direction::kOutgoing, 2}, {"example.com", Direction::kIncoming, 2}},
       0},
      {"another port of the proxy address", {{true, "GET http://example.com/ HTTP/1.1", false, 8080}}, {}, 1},
      {"proxy off", {{true, "GET http://example.com/ HTTP/1.1"}}, {}, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::FakePlatform fakes;
    EngineState state;
    state.settings.interfaceAddress = kLocal;
    state.settings.useProxy = !c.proxyOff;
    state.settings.proxyAddress = kProxy;
    state.settings.proxyPort = 3128;
    LocalSources sources(fakes.owners, fakes.clock);
    Accountant accountant(state, sources, fakes.clock);
    std::vector<std::size_t> lengths;
    for (const Step& step : c.steps) {
      if (step.nextSecond) fakes.clock.Advance(1000);
      const auto bytes = step.outgoing
                             ? BuildIpv4Packet({kLocal, kProxy, 6, 1500, step.proxyPort, 5, step.payload})
                             : BuildIpv4Packet({kProxy, kLocal, 6, step.proxyPort, 1500, 5, step.payload});
      accountant.AccountPacket(*ParsePacket(bytes.data(), bytes.size()));
      lengths.push_back(bytes.size());
    }
    ASSERT_EQ(state.proxyEvents.size(), c.queued.size());
    std::uint64_t queuedBytes = 0;
    std::size_t queuedPackets = 0;
    for (std::size_t i = 0; i < c.queued.size(); ++i) {
      EXPECT_EQ(state.proxyEvents[i].host, c.queued[i].host);
      EXPECT_EQ(state.proxyEvents[i].direction, c.queued[i].direction);
      EXPECT_EQ(state.proxyEvents[i].localPort, 1500u);
      queuedBytes += state.proxyEvents[i].length;
      queuedPackets += c.queued[i].packets;
    }
    // Every packet is counted once: queued for the proxy rows or as a flow.
    std::uint64_t flowBytes = 0;
    for (const auto& [key, flow] : state.stats.flows) {
      EXPECT_EQ(key.remoteAddress, kProxy);
      flowBytes += flow.upload + flow.download;
    }
    EXPECT_EQ(queuedPackets + c.ordinaryPackets, lengths.size());
    std::uint64_t sent = 0;
    for (const std::size_t length : lengths) sent += length;
    EXPECT_EQ(queuedBytes + flowBytes, sent);
    EXPECT_EQ(state.stats.flows.empty(), c.ordinaryPackets == 0);
  }
}

}  // namespace
}  // namespace quorvel
