#include "engine/proxy_inspector.h"

#include <gtest/gtest.h>

#include <vector>

#include "attribution/local_sources.h"
#include "engine/accounting.h"
#include "support/fake_platform.h"
#include "support/packet_builder.h"

namespace quorvel {
namespace {

using testing::BuildIpv4Packet;

TEST(ProxyInspector, HostOfARequestText) {
  const std::pair<std::string, std::string> requests[] = {
      {"GET http://example.com/index.html HTTP/1.1", "example.com"},
      {"POST http://example.com:8080/form HTTP/1.0", "example.com:8080"},
      {"GET http://example.com HTTP/1.1", "example.com HTTP"},
      {"GET /relative HTTP/1.1", ""},
      {"GET http://no-end", ""},
      {"GET http:///path", ""},
      {"GET ftp://\xe9t\xe9/x", "\xc3\xa9t\xc3\xa9"},
      {"GET http://" + std::string(300, 'a') + "/ HTTP/1.1", std::string(255, 'a')},
  };
  for (const auto& [request, host] : requests) EXPECT_EQ(ExtractHost(request), host) << request;
  const std::pair<std::string, std::string> tunnels[] = {
      {"CONNECT www.example.com:443 HTTP/1.1\r\nHost: x\r\n", "www.example.com"},
      {"CONNECT 10.1.2.3:8443 HTTP/1.1", "10.1.2.3"},
      {"CONNECT [2001:db8::1]:443 HTTP/1.1", "[2001:db8::1]"},
      {"CONNECT noport\r\n", "noport"},
      {"GET http://example.com/ HTTP/1.1", ""},
      {" CONNECT a:1 HTTP/1.1", ""},
  };
  for (const auto& [request, host] : tunnels) EXPECT_EQ(TunnelHost(request), host) << request;
}

const Ipv4Address kLocal = MakeIpv4(10, 0, 0, 7);
const Ipv4Address kProxy = MakeIpv4(10, 0, 0, 1);

struct ProxySetup {
  ProxySetup() {
    state.settings.interfaceAddress = kLocal;
    state.settings.useProxy = true;
    state.settings.proxyAddress.Set(kProxy);
    state.settings.proxyPort = 3128;
  }
  std::size_t Account(const std::vector<std::uint8_t>& bytes) {
    accountant.AccountPacket(*ParsePacket(bytes.data(), bytes.size()));
    return bytes.size();
  }

  testing::FakePlatform fakes;
  EngineState state;
  LocalSources sources{fakes.owners, fakes.clock};
  Accountant accountant{state, sources, fakes.clock};
};

class ProxyInspectorTest : public ::testing::Test, protected ProxySetup {};

// Every packet is counted once: queued under its request's host for the
// proxy rows, or as an ordinary flow with the proxy server.
TEST(ProxyInspector, RequestsNameTheHostOfTheirPortsPackets) {
  struct Step {  // one packet to the proxy (or from it), a second later or not
    bool outgoing;
    std::string payload;
    bool nextSecond = false;
    std::uint16_t proxyPort = 3128;
  };
  const auto out = Direction::kOutgoing, in = Direction::kIncoming;
  const struct {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::tuple<std::string, Direction, std::size_t>> queued;  // host, direction, packets summed
    std::size_t ordinaryPackets;
    bool proxyOff = false;
  } cases[] = {
      {"get then reply",
       {{true, "GET http://example.com/path HTTP/1.1\r\n\r\n"}, {false, "HTTP/1.1 200 OK", true}},
       {{"example.com", out, 1}, {"example.com", in, 1}},
       0},
      {"connect tunnel",
       {{true, "CONNECT www.example.com:443 HTTP/1.1\r\n\r\n"}, {false, "\x16\x03\x01", true}},
       {{"www.example.com", out, 1}, {"www.example.com", in, 1}},
       0},
      {"handshake before the request counts with the proxy",
       {{true, ""}, {false, "hello"}, {true, "GET http://example.com/ HTTP/1.1"}},
       {{"example.com", out, 1}},
       2},
      {"later post switches the host",
       {{true, "GET http://one.example/ HTTP/1.1"}, {true, "POST http://two.example/f HTTP/1.1", true}, {false, "ok"}},
       {{"one.example", out, 1}, {"two.example", out, 1}, {"two.example", in, 1}},
       0},
      {"relative request keeps the host",
       {{true, "GET http://one.example/ HTTP/1.1"}, {true, "GET /next HTTP/1.1", true}},
       {{"one.example", out, 1}, {"one.example", out, 1}},
       0},
      {"zero byte ends the request text", {{true, std::string("x\0GET http://h.example/ HTTP/1.1", 32)}}, {}, 1},
      {"one second's packets merge",
       {{true, "GET http://example.com/ HTTP/1.1"}, {false, "part one"}, {true, "ack"}, {false, "part two!"}},
       {{"example.com", out, 2}, {"example.com", in, 2}},
       0},
      {"another port of the proxy address", {{true, "GET http://example.com/ HTTP/1.1", false, 8080}}, {}, 1},
      {"proxy off", {{true, "GET http://example.com/ HTTP/1.1"}}, {}, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProxySetup setup;
    EngineState& state = setup.state;
    state.settings.useProxy = !c.proxyOff;
    std::uint64_t sent = 0, queuedBytes = 0, flowBytes = 0;
    std::size_t queuedPackets = 0;
    for (const Step& step : c.steps) {
      if (step.nextSecond) setup.fakes.clock.Advance(1000);
      sent +=
          setup.Account(step.outgoing ? BuildIpv4Packet({kLocal, kProxy, 6, 1500, step.proxyPort, 5, step.payload})
                                      : BuildIpv4Packet({kProxy, kLocal, 6, step.proxyPort, 1500, 5, step.payload}));
    }
    ASSERT_EQ(state.proxyEvents.size(), c.queued.size());
    for (std::size_t i = 0; i < c.queued.size(); ++i) {
      EXPECT_EQ(state.proxyEvents[i].host, std::get<0>(c.queued[i]));
      EXPECT_EQ(state.proxyEvents[i].direction, std::get<1>(c.queued[i]));
      EXPECT_EQ(state.proxyEvents[i].localPort, 1500u);
      queuedBytes += state.proxyEvents[i].length;
      queuedPackets += std::get<2>(c.queued[i]);
    }
    for (const auto& [key, flow] : state.stats.flows) {
      EXPECT_EQ(key.remoteAddress, kProxy);
      flowBytes += flow.upload + flow.download;
    }
    EXPECT_EQ(queuedPackets + c.ordinaryPackets, c.steps.size());
    EXPECT_EQ(queuedBytes + flowBytes, sent);
    EXPECT_EQ(state.stats.flows.empty(), c.ordinaryPackets == 0);
  }
}

TEST_F(ProxyInspectorTest, AnIpv6ProxyAddressTakesItsPacketsUnderTheRequestedHost) {
  const IpAddress local = *ParseIp("2001:db8::7"), proxy = *ParseIp("2001:db8::1");
  state.settings.interfaceIpv6Addresses.Set({{local, 64}});
  state.settings.proxyAddress.Set(proxy);
  // A hop-by-hop header before TCP: the request text is found after both.
  const std::size_t request = Account(testing::BuildIpv6Packet(
      {local, proxy, {{0, 8}}, 6, 1500, 3128, true, "GET http://six.example/ HTTP/1.1\r\n\r\n"}));
  fakes.clock.Advance(1000);
  const std::size_t reply =
      Account(testing::BuildIpv6Packet({proxy, local, {}, 6, 3128, 1500, true, "HTTP/1.1 200 OK\r\n"}));
  ASSERT_EQ(state.proxyEvents.size(), 2u);
  EXPECT_EQ(state.proxyEvents[0].host, "six.example");
  EXPECT_EQ(state.proxyEvents[0].length, request);
  EXPECT_EQ(state.proxyEvents[1].direction, Direction::kIncoming);
  EXPECT_EQ(state.proxyEvents[1].length, reply);
  EXPECT_TRUE(state.stats.flows.empty());
  // The IPv4 address that was the proxy before is an ordinary remote now.
  Account(BuildIpv4Packet({kLocal, kProxy, 6, 1501, 3128, 5, "GET http://four.example/ HTTP/1.1"}));
  EXPECT_EQ(state.stats.flows.size(), 1u);
}

}  // namespace
}  // namespace quorvel
