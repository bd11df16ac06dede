#include <gtest/gtest.h>

#include "engine/monitor.h"
#include "engine/resolver_fixture.h"
#include "support/fake_platform.h"
#include "support/packet_builder.h"

namespace quorvel {
namespace {

const Ipv4Address kFirst = MakeIpv4(198, 18, 0, 1);
const Ipv4Address kSecond = MakeIpv4(198, 18, 1, 1);
const Ipv4Address kRemote = MakeIpv4(198, 18, 0, 2);

bool Eventually(const std::function<bool()>& done) { return testing::WaitUntil(done, 5); }

class RecordingObserver final : public MonitorObserver {
 public:
  void OnWindowTitle(const std::string& title) override { Add(titles_, title); }
  void OnCaptureProblem(const std::string& message) override { Add(problems_, message); }
  std::vector<std::string> Problems() { return Add(problems_); }
  std::vector<std::string> Titles() { return Add(titles_); }

 private:
  std::vector<std::string> Add(std::vector<std::string>& texts, std::optional<std::string> text = std::nullopt) {
    std::lock_guard lock(mutex_);
    if (text) texts.push_back(*text);
    return texts;
  }
  std::mutex mutex_;
  std::vector<std::string> titles_, problems_;
};

class MonitorTest : public ::testing::Test {
 protected:
  MonitorTest() { options.runWorker = false; }
  std::uint64_t Downloaded() {
    std::lock_guard lock(state.statMutex);
    return state.stats.tickDownload;
  }
  static std::vector<std::uint8_t> IncomingTo(Ipv4Address local, std::uint16_t port) {
    return testing::BuildIpv4Packet({kRemote, local, 17, 53, port, 5, "answer"});  // 34 bytes
  }

  testing::FakePlatform fakes;
  EngineState state;
  RecordingObserver observer;
  MonitorOptions options;
};

TEST_F(MonitorTest, RestartEndsTheOldLoopBeforeTheNewOneCaptures) {
  testing::FakePacketSource& first = fakes.packets.SourceFor(kFirst);
  testing::FakePacketSource& second = fakes.packets.SourceFor(kSecond);
  state.settings.interfaceAddress = kFirst;
  Monitor monitor(state, fakes.Bundle(), observer, options);
  monitor.Start();
  first.Push(IncomingTo(kFirst, 1000));
  ASSERT_TRUE(Eventually([&] { return Downloaded() == 34; }));
  EXPECT_FALSE(monitor.ChangeInterface(kFirst));  // the same interface: no restart
  EXPECT_TRUE(monitor.ChangeInterface(kSecond));
  EXPECT_EQ(state.settings.interfaceAddress.load(), kSecond);
  // The old loop is gone: what reaches the old interface is never accounted.
  first.Push(IncomingTo(kSecond, 1001));
  second.Push(IncomingTo(kSecond, 1002));
  ASSERT_TRUE(Eventually([&] { return Downloaded() == 68; }));
  monitor.Stop();
  EXPECT_EQ(first.Delivered(), 1u);
  EXPECT_EQ(fakes.packets.Opened(), (std::vector<Ipv4Address>{kFirst, kSecond}));
  EXPECT_EQ(observer.Titles(),
            (std::vector<std::string>{"Quorvel - testhost(198.18.0.1)", "Quorvel - testhost(198.18.1.1)"}));
  EXPECT_TRUE(observer.Problems().empty());
}

TEST_F(MonitorTest, CaptureProblemsAreReportedAndMonitoringGoesOn) {
  {
    Monitor monitor(state, fakes.Bundle(), observer, options);
    monitor.Start();  // no interface at all
    EXPECT_FALSE(monitor.Status().running);
    ASSERT_EQ(observer.Problems().size(), 1u);
    EXPECT_NE(observer.Problems()[0].find("No IPv4 network interface"), std::string::npos);
    fakes.packets.SourceFor(kFirst);
    EXPECT_TRUE(monitor.ChangeInterface(kFirst));  // Options can choose one later
    ASSERT_TRUE(Eventually([&] { return monitor.Status().running; }));
    fakes.packets.SourceFor(kSecond);
    fakes.packets.RefusePromiscuous(true);
    EXPECT_TRUE(monitor.ChangeInterface(kSecond));
    ASSERT_TRUE(Eventually([&] { return observer.Problems().size() == 2; }));
    EXPECT_TRUE(monitor.ChangeInterface(MakeIpv4(198, 18, 2, 1)));  // no source for it: cannot be opened
    ASSERT_TRUE(Eventually([&] { return observer.Problems().size() == 3; }));
  }
  EXPECT_EQ(observer.Problems()[1], "Can't set promiscuous mode");
  EXPECT_EQ(observer.Problems()[2], "No interface holds 198.18.2.1");
}

TEST_F(MonitorTest, InterfaceChoice) {
  const InterfaceInfo loopback{"lo", "lo", "127.0.0.1", "255.0.0.0", true, true, {}};
  const InterfaceInfo down{"eth1", "eth1", "198.18.5.5", "255.255.255.0", false, false, {}};
  const InterfaceInfo up{"eth0", "eth0", "198.18.9.9", "255.255.255.0", true, false, {}};
  const struct {
    const char* name;
    std::vector<Ipv4Address> hostAddresses;
    std::optional<Ipv4Address> defaultRoute;
    std::vector<InterfaceInfo> interfaces;
    std::optional<Ipv4Address> chosen;
  } cases[] = {
      {"host name address", {kFirst, kSecond}, kRemote, {up}, kFirst},
      {"loopback host name: default route", {MakeIpv4(127, 0, 1, 1)}, kRemote, {up}, kRemote},
      {"no host address, no route: first up interface",
       {},
       std::nullopt,
       {loopback, down, up},
       MakeIpv4(198, 18, 9, 9)},
      {"nothing at all", {}, std::nullopt, {loopback, down}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fakes.names.SetForward("testhost", c.hostAddresses);
    fakes.interfaces.defaultRoute = c.defaultRoute;
    fakes.interfaces.interfaces = c.interfaces;
    EXPECT_EQ(Monitor(state, fakes.Bundle(), observer, options).ChooseInterfaceAddress(), c.chosen);
  }
}

TEST_F(MonitorTest, FollowsTheIpv6AddressesOfTheCapturedInterface) {
  fakes.packets.SourceFor(kFirst);
  fakes.packets.SourceFor(kSecond);
  const IpPrefix global{testing::Ipv6("2001:db8::5"), 64}, temporary{testing::Ipv6("2001:db8::abcd:5"), 64};
  const auto withAddresses = [&](std::vector<IpPrefix> addresses) {
    fakes.interfaces.Set({{"other", "other", "198.18.7.7", "255.255.255.0", true, false, {}},
                          {"fake-198.18.0.1", "", "198.18.0.1", "255.255.255.0", true, false, std::move(addresses)},
                          {"fake-198.18.1.1", "", "198.18.1.1", "255.255.255.0", true, false, {}}});
    fakes.clock.Advance(1000);
  };
  const auto published = [&](const std::vector<IpPrefix>& expected) {
    return Eventually([&] { return state.settings.interfaceIpv6Addresses.Get() == expected; });
  };
  withAddresses({global});
  state.settings.interfaceAddress = kFirst;
  Monitor monitor(state, fakes.Bundle(), observer, options);
  monitor.Start();
  ASSERT_TRUE(published({global}));
  withAddresses({temporary, global});
  ASSERT_TRUE(published({temporary, global}));
  withAddresses({temporary});
  ASSERT_TRUE(published({temporary}));
  // Another interface without IPv6 addresses: none of the old ones stay.
  ASSERT_TRUE(monitor.ChangeInterface(kSecond));
  ASSERT_TRUE(published({}));
  monitor.Stop();
}

TEST_F(MonitorTest, PacketsBecomeNamedRowsThroughTheWorker) {
  testing::FakePacketSource& source = fakes.packets.SourceFor(kFirst);
  fakes.names.SetReverse(kRemote, "peer.example");
  state.settings.interfaceAddress = kFirst;
  Monitor monitor(state, fakes.Bundle(), observer);
  monitor.Start();
  source.Push(IncomingTo(kFirst, 1000));
  const auto rows = [&] {
    std::lock_guard lock(state.listMutex);
    return state.rows.TextsTopDown();
  };
  // The worker's sleeps move the fake clock on, so the event becomes due.
  ASSERT_TRUE(Eventually([&] { return rows().size() == 1 && rows()[0][kColumnHost] == "peer.example"; }));
  monitor.Stop();
  EXPECT_EQ(rows()[0][kColumnRemote], "198.18.0.2: 53");
  EXPECT_EQ(rows()[0][kColumnDownload], "34 B");
  EXPECT_EQ(rows()[0][kColumnLocalSource], "UDP protocol: 1000");
}

TEST_F(MonitorTest, KeepsCapturingThroughInterfaceDownRemovalAndNewAddress) {
  testing::FakePacketSource& source = fakes.packets.SourceFor(kFirst);
  const auto listed = [&](bool up, const char* address) {
    fakes.interfaces.Set({{"fake-198.18.0.1", "", address, "255.255.255.0", up, false, {}}});
    fakes.clock.Advance(1000);
  };
  listed(true, "198.18.0.1");
  state.settings.interfaceAddress = kFirst;
  Monitor monitor(state, fakes.Bundle(), observer, options);
  const auto status = [&](bool running, bool down) {
    return Eventually([&] {
      const CaptureStatus now = monitor.Status();
      return now.running == running && now.interfaceDown == down;
    });
  };
  monitor.Start();
  source.Push(IncomingTo(kFirst, 1000));
  ASSERT_TRUE(Eventually([&] { return Downloaded() == 34; }));

  listed(false, "198.18.0.1");
  ASSERT_TRUE(status(true, true));
  // Taken away: nothing is opened while it is gone, then it is opened again.
  fakes.interfaces.Set({});
  source.Fail("The interface disappeared");
  ASSERT_TRUE(status(false, true));
  EXPECT_EQ(fakes.packets.Opened().size(), 1u);
  listed(true, "198.18.0.1");
  ASSERT_TRUE(status(true, false));
  source.Push(IncomingTo(kFirst, 1001));
  ASSERT_TRUE(Eventually([&] { return Downloaded() == 68; }));

  // A new lease: directions and the title follow.
  listed(true, "198.18.1.1");
  ASSERT_TRUE(Eventually([&] { return state.settings.interfaceAddress.load() == kSecond; }));
  source.Push(IncomingTo(kSecond, 1002));
  ASSERT_TRUE(Eventually([&] { return Downloaded() == 102; }));

  // Its helper gone while the interface is up: stopped until the user restarts it.
  source.Fail("quorvel-capture ended");
  ASSERT_TRUE(status(false, false));
  monitor.Stop();
  EXPECT_EQ(fakes.packets.Opened(), (std::vector<Ipv4Address>{kFirst, kFirst}));
  EXPECT_EQ(observer.Titles(), (std::vector<std::string>{"Quorvel - testhost(198.18.0.1)",
                                                         "Quorvel - testhost(198.18.1.1)"}));
  EXPECT_EQ(observer.Problems(),
            (std::vector<std::string>{"Capture on fake-198.18.0.1 stopped: The interface disappeared",
                                      "Capture on fake-198.18.0.1 stopped: quorvel-capture ended"}));
}

}  // namespace
}  // namespace quorvel
