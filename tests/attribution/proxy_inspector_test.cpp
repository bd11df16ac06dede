#include "attribution/proxy_inspector.h"

#include <gtest/gtest.h>

#include "attribution/local_sources.h"
#include "engine/accounting.h"
#include "support/fake_platform.h"
#include "support/packet_builder.h"

namespace quorvel {
namespace {

using testing::BuildIpv4Packet;
using testing::PacketSpec;

TEST(ExtractHost, AbsoluteUrls) {
  const std::pair<std::string_view, std::string> cases[] = {
      {"GET http://example.com/index.html HTTP/1.1", "example.com"},
      {"POST http://example.com:8080/form HTTP/1.0", "example.com:8080"},
      {"GET http://example.com HTTP/1.1", "example.com HTTP"},
      {"GET /relative HTTP/1.1", ""},
      {"GET http://no-end", ""},
      {"http://", ""},
      {"GET http:///path", ""},
      {"GET ftp://\xe9t\xe9/x", "\xc3\xa9t\xc3\xa9"},
  };
  for (const auto& [request, host] : cases) EXPECT_EQ(ExtractHost(request), host) << request;
}

TEST(ExtractHost, LongHostIsCut) {
  const std::string request = "GET http://" + std::string(300, 'a') + "/ HTTP/1.1";
  EXPECT_EQ(ExtractHost(request), std::string(255, 'a'));
}

class ProxyTest : public ::testing::Test {
 protected:
  ProxyTest() : sources(fakes.owners, fakes.clock), accountant(state, sources, fakes.clock) {
    state.settings.interfaceAddress = kLocal;
    state.settings.useProxy = true;
    state.settings.proxyAddress.Set(kProxy);
    state.settings.proxyPort = 3128;
  }

  std::size_t Send(std::uint16_t localPort, std::string_view payload, std::uint16_t proxyPort = 3128) {
    const auto bytes = BuildIpv4Packet({kLocal, kProxy, 6, localPort, proxyPort, 5, payload});
    accountant.AccountPacket(*ParsePacket(bytes.data(), bytes.size()));
    return bytes.size();
  }
  std::size_t Receive(std::uint16_t localPort, std::string_view payload) {
    const auto bytes = BuildIpv4Packet({kProxy, kLocal, 6, 3128, localPort, 5, payload});
    accountant.AccountPacket(*ParsePacket(bytes.data(), bytes.size()));
    return bytes.size();
  }

  static inline const Ipv4Address kLocal = MakeIpv4(10, 0, 0, 7);
  static inline const Ipv4Address kProxy = MakeIpv4(10, 0, 0, 1);
  testing::FakePlatform fakes;
  EngineState state;
  LocalSources sources;
  Accountant accountant;
};

TEST_F(ProxyTest, AnIpv6ProxyAddressTakesItsPacketsUnderTheRequestedHost) {
  const IpAddress local = *ParseIp("2001:db8::7");
  const IpAddress proxy = *ParseIp("2001:db8::1");
  state.settings.interfaceIpv6Addresses.Set({{local, 64}});
  state.settings.proxyAddress.Set(proxy);
  const auto account = [&](const testing::Ipv6PacketSpec& shape) {
    const auto bytes = testing::BuildIpv6Packet(shape);
    accountant.AccountPacket(*ParsePacket(bytes.data(), bytes.size()));
    return bytes.size();
  };
  // A hop-by-hop header before TCP: the request text is found after both.
  const std::size_t request = account({local, proxy, {{0, 8}}, 6, 1500, 3128, true,
                                       "GET http://six.example/ HTTP/1.1\r\n\r\n"});
  const std::size_t reply = account({proxy, local, {}, 6, 3128, 1500, true, "HTTP/1.1 200 OK\r\n"});
  ASSERT_EQ(state.proxyEvents.size(), 2u);
  EXPECT_EQ(state.proxyEvents[0].host, "six.example");
  EXPECT_EQ(state.proxyEvents[0].length, request);
  EXPECT_EQ(state.proxyEvents[1].direction, Direction::kIncoming);
  EXPECT_EQ(state.proxyEvents[1].length, reply);
  EXPECT_TRUE(state.stats.flows.empty());
  // The IPv4 address that was the proxy before is an ordinary remote now.
  Send(1501, "GET http://four.example/ HTTP/1.1\r\n\r\n");
  EXPECT_EQ(state.stats.flows.size(), 1u);
}

TEST_F(ProxyTest, RequestsNameTheHostOfLaterPackets) {
  Send(1500, "");  // the handshake: no request seen yet, counted nowhere
  EXPECT_TRUE(state.proxyEvents.empty());
  const std::size_t request = Send(1500, "GET http://example.com/path HTTP/1.1\r\n\r\n");
  fakes.clock.Advance(1000);
  const std::size_t reply = Receive(1500, "HTTP/1.1 200 OK\r\n\r\n");
  ASSERT_EQ(state.proxyEvents.size(), 2u);
  EXPECT_EQ(state.proxyEvents[0].host, "example.com");
  EXPECT_EQ(state.proxyEvents[0].localPort, 1500u);
  EXPECT_EQ(state.proxyEvents[0].direction, Direction::kOutgoing);
  EXPECT_EQ(state.proxyEvents[0].length, request);
  EXPECT_EQ(state.proxyEvents[1].host, "example.com");
  EXPECT_EQ(state.proxyEvents[1].direction, Direction::kIncoming);
  EXPECT_EQ(state.proxyEvents[1].length, reply);
  // Taken packets are not ordinary traffic.
  EXPECT_TRUE(state.stats.flows.empty());
  EXPECT_EQ(state.stats.tickUpload + state.stats.tickDownload, 0u);
  EXPECT_TRUE(state.stats.uploadRemotes.empty());
  EXPECT_TRUE(state.events.empty());
}

TEST_F(ProxyTest, LaterPostSwitchesTheHost) {
  Send(1500, "GET http://one.example/ HTTP/1.1");
  fakes.clock.Advance(1000);
  Send(1500, "POST http://two.example/form HTTP/1.1");
  Receive(1500, "ok");
  ASSERT_EQ(state.proxyEvents.size(), 3u);
  EXPECT_EQ(state.proxyEvents[1].host, "two.example");
  EXPECT_EQ(state.proxyEvents[2].host, "two.example");
}

TEST_F(ProxyTest, RelativeRequestKeepsThePreviousHost) {
  Send(1500, "GET http://one.example/ HTTP/1.1");
  fakes.clock.Advance(1000);
  Send(1500, "GET /next HTTP/1.1");
  ASSERT_EQ(state.proxyEvents.size(), 2u);
  EXPECT_EQ(state.proxyEvents[1].host, "one.example");
}

TEST_F(ProxyTest, ZeroByteEndsTheRequestText) {
  const std::string payload = std::string("x") + '\0' + "GET http://hidden.example/ HTTP/1.1";
  Send(1500, payload);
  EXPECT_TRUE(state.proxyEvents.empty());
}

TEST_F(ProxyTest, PacketsOfOneSecondAreMergedWithoutLosingBytes) {
  const std::size_t first = Send(1500, "GET http://example.com/ HTTP/1.1");
  const std::size_t replyA = Receive(1500, "part one");
  const std::size_t second = Send(1500, "ack");
  const std::size_t replyB = Receive(1500, "part two!");
  ASSERT_EQ(state.proxyEvents.size(), 2u);
  EXPECT_EQ(state.proxyEvents[0].length, first + second);
  EXPECT_EQ(state.proxyEvents[1].length, replyA + replyB);
}

TEST_F(ProxyTest, OtherPortsAndProxyOffAreOrdinaryFlows) {
  Send(1500, "GET http://example.com/ HTTP/1.1", 8080);
  EXPECT_TRUE(state.proxyEvents.empty());
  EXPECT_EQ(state.stats.flows.size(), 1u);
  state.settings.useProxy = false;
  Send(1501, "GET http://example.com/ HTTP/1.1");
  EXPECT_TRUE(state.proxyEvents.empty());
  EXPECT_EQ(state.stats.flows.size(), 2u);
}

}  // namespace
}  // namespace quorvel
