// The spy fed by the engine's own accounting, from raw packets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "attribution/local_sources.h"
#include "engine/accounting.h"
#include "engine/capture_loop.h"
#include "engine/engine_state.h"
#include "spy/spy_session.h"
#include "spy/spy_test_support.h"
#include "support/fake_platform.h"
#include "support/packet_builder.h"

namespace quorvel {
namespace {

using namespace std::string_literals;
using testing::BuildIpv4Packet;

const Ipv4Address kLocal = MakeIpv4(192, 168, 1, 2);
const Ipv4Address kRemote = MakeIpv4(203, 0, 113, 9);
const Ipv4Address kOther = MakeIpv4(203, 0, 113, 10);

class SpyEngineTest : public ::testing::Test {
 protected:
  SpyEngineTest() : sources(fakes.owners, fakes.clock), accountant(state, sources, fakes.clock), loop(accountant) {
    state.settings.interfaceAddress = kLocal;
  }

  void Receive(const testing::PacketSpec& shape) {
    const auto bytes = BuildIpv4Packet(shape);
    loop.OnPacket(bytes.data(), bytes.size());
  }

  testing::FakePlatform fakes;
  EngineState state;
  LocalSources sources;
  Accountant accountant;
  CaptureLoop loop;
};

TEST_F(SpyEngineTest, AllTrafficShowsTcpDataAndWholeOtherPackets) {
  SpySession session(state.spy, testing::AllTrafficTarget());
  session.Open();
  Receive({kRemote, kLocal, 6, 80, 50000, 5, "HTTP/1.1 200 OK\r\n\0"s});
  Receive({kLocal, kOther, 17, 53000, 53, 5, "q"});
  Receive({kOther, kRemote, 6, 80, 50000, 5, "not ours"});  // between other hosts
  session.Drain();
  ASSERT_EQ(session.List().Lines().size(), 2u);
  EXPECT_EQ(session.List().Lines()[0], "HTTP/1.1 200 OK\r\n.");
  const std::string udp = session.List().Lines()[1];
  EXPECT_EQ(udp.size(), 20u + 8u + 1u) << "IPv4 header, UDP header and data";
  EXPECT_EQ(udp.back(), 'q');
  session.Close();
}

TEST_F(SpyEngineTest, RowTargetShowsOnlyItsFlow) {
  Receive({kRemote, kLocal, 6, 443, 50000, 5, "first"});
  ASSERT_EQ(state.stats.flows.size(), 1u);
  const std::string localSource = state.stats.flows.begin()->first.localSource;
  SpySession session(state.spy, SpyTarget{"203.0.113.9: 443", "host", localSource, ""});
  session.Open();
  Receive({kRemote, kLocal, 6, 443, 50000, 5, "in"});
  Receive({kLocal, kRemote, 6, 50000, 443, 5, "out"});
  Receive({kOther, kLocal, 6, 443, 50000, 5, "other remote"});
  Receive({kRemote, kLocal, 6, 443, 50001, 5, "other local port"});
  session.Drain();
  EXPECT_EQ(session.List().Lines(), (std::vector<std::string>{"in", "out"}));
  session.Close();
}

}  // namespace
}  // namespace quorvel
