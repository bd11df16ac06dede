// The spy fed by the engine's own accounting, from raw packets: the engine
// hands over the remote address and port of either direction.
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

const Ipv4Address kLocal = MakeIpv4(192, 168, 1, 2);
const Ipv4Address kRemote = MakeIpv4(203, 0, 113, 9);

class SpyEngineTest : public ::testing::Test {
 protected:
  SpyEngineTest() : sources(fakes.owners, fakes.clock), accountant(state, sources, fakes.clock), loop(accountant) {
    state.settings.interfaceAddress = kLocal;
  }

  // Receives the packets and returns the lines the session shows.
  std::vector<std::string> Shown(SpySession& session, const std::vector<testing::PacketSpec>& packets) {
    session.Open();
    for (const auto& shape : packets) {
      const auto bytes = testing::BuildIpv4Packet(shape);
      loop.OnPacket(bytes.data(), bytes.size());
    }
    session.Drain();
    session.Close();
    return session.List().Lines();
  }

  testing::FakePlatform fakes;
  EngineState state;
  LocalSources sources;
  Accountant accountant;
  CaptureLoop loop;
};

TEST_F(SpyEngineTest, RowTargetShowsOnlyItsFlowBothWays) {
  SpySession first(state.spy, testing::AllTrafficTarget());
  Shown(first, {{kRemote, kLocal, 6, 443, 50000, 5, "first"}});
  ASSERT_EQ(state.stats.flows.size(), 1u);
  const std::string localSource = state.stats.flows.begin()->first.localSource;
  SpySession session(state.spy, SpyTarget{"203.0.113.9: 443", "host", localSource, ""});
  EXPECT_EQ(Shown(session, {{kRemote, kLocal, 6, 443, 50000, 5, "in"},
                            {kLocal, kRemote, 6, 50000, 443, 5, "out"},
                            {MakeIpv4(203, 0, 113, 10), kLocal, 6, 443, 50000, 5, "other remote"},
                            {kRemote, kLocal, 6, 443, 50001, 5, "other local port"}}),
            (std::vector<std::string>{"in", "out"}));
}

}  // namespace
}  // namespace quorvel
