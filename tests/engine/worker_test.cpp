#include "engine/worker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "common/format.h"
#include "filters/filters_file.h"
#include "persistence/save_and_clear.h"
#include "persistence/traffic_log.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

constexpr std::int64_t kStart = 1'700'000'000;     // 2023-11-14 22:13:20 UTC
constexpr std::int64_t kMidnight = 1'700'006'400;  // 2023-11-15 00:00:00 UTC
const Ipv4Address kRemote = MakeIpv4(10, 0, 0, 5);

// One thread drives the worker cycle by cycle, so the state is read without locks.
class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove_all(logs_);
    owners_.SetOwners({SocketOwner{5000, false, 1234, true, "app.exe", "/usr/bin/app"},
                       SocketOwner{5001, false, 77, true, "other.exe", "/opt/other"}});
    ASSERT_TRUE(sources_.RunPass());
  }
  void TearDown() override { std::filesystem::remove_all(logs_); }

  FlowKey Key(std::uint32_t localPort, IpAddress remote = kRemote, std::uint32_t remotePort = 443,
              std::uint16_t protocol = 6) {
    return FlowKey{sources_.LookupLocalSource(localPort, protocol), localPort, remote, remotePort};
  }
  // Sets the flow's totals and queues its event `age` seconds before the clock.
  void Event(const FlowKey& key, std::int64_t time, std::uint64_t download = 1, std::uint64_t upload = 1,
             std::uint16_t protocol = 6) {
    state_.stats.flows[key].download = download;
    state_.stats.flows[key].upload = upload;
    state_.events.push_back(PacketEvent{key, protocol, time, {}});
  }
  void Proxy(const std::string& host, std::uint32_t port, std::int64_t time, std::uint64_t length, Direction d) {
    state_.proxyEvents.push_back(ProxyEvent{host, port, time, length, d});
  }
  void Cycle(std::int64_t now) {
    clock_.SetSeconds(now);
    worker_.RunCycle();
  }
  std::vector<FlowRow> Rows() {
    std::vector<FlowRow> rows;
    for (const auto& entry : *state_.rows.Snapshot().rows) rows.push_back(*entry.row);
    return rows;
  }
  void Filter(std::vector<FilterRule> rules, FilterMode mode) { state_.filters = FilterSet{std::move(rules), mode}; }

  EngineState state_;
  testing::FakeOwnerSource owners_;
  testing::FakeNameResolver names_;
  testing::FakeClock clock_{kStart};
  LocalSources sources_{owners_, clock_};
  HostResolverPool resolver_{state_, names_, clock_, 2};  // not started: rows keep their address text
  std::filesystem::path logs_ =
      std::filesystem::path(::testing::TempDir()) /
      ("worker_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  Worker worker_{state_,    sources_,
                 resolver_, names_,
                 clock_,    [this](std::int64_t now) { return CutToTrafficLog(state_, logs_, now, false, true); }};
};

TEST_F(WorkerTest, EventsAreAppliedOnceOlderThanTwoSecondsInQueueOrder) {
  const FlowKey a = Key(5000, kRemote, 1), b = Key(5000, kRemote, 2), c = Key(5000, kRemote, 3);
  Event(a, kStart - 2);  // two seconds old: stays
  worker_.RunCycle();
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(state_.events.size(), 1u);

  state_.events.clear();
  Event(Key(5000, kRemote, 4), kStart + 3600);  // stamped in the future: taken at once
  Event(a, kStart - 3);                         // due
  Event(b, kStart - 1);                         // young: the drain stops here
  Event(c, kStart - 10);                        // due, but behind a young one
  Cycle(kStart);
  ASSERT_EQ(Rows().size(), 2u);
  EXPECT_EQ(Rows()[0].columns[kColumnRemote], "10.0.0.5: 1");
  EXPECT_EQ(state_.events.size(), 2u);
  Cycle(kStart + 2);  // the clock moved by the cycle's second and the pauses
  EXPECT_EQ(Rows().size(), 4u);
  EXPECT_TRUE(state_.events.empty());
}

TEST_F(WorkerTest, NewRowTextsRefreshesAndTheNewRowPause) {
  const FlowKey key = Key(5000);
  Event(key, kStart - 3, 1536, 512);
  worker_.RunCycle();
  ASSERT_EQ(Rows().size(), 1u);
  const FlowRowTexts expected = {
      "10.0.0.5: 443",       "10.0.0.5",    "1.50 KB", "512 B", "2.00 KB", "app.exe(1234): 5000", "2023-11-14 22:13:17",
      "2023-11-14 22:13:17", "/usr/bin/app"};
  EXPECT_EQ(Rows()[0].columns, expected);
  EXPECT_EQ(Rows()[0].iconPath, "/usr/bin/app");
  EXPECT_EQ(Rows()[0].download, 1536u) << "the counts beside the texts, for exports";
  EXPECT_EQ(Rows()[0].upload, 512u);
  EXPECT_TRUE(Rows()[0].selected);
  EXPECT_EQ(clock_.TotalSlept(), Worker::kNewRowPauseMilliseconds + Worker::kCycleMilliseconds);

  // A later event refreshes the byte columns and the last activity only, and highlights again.
  state_.rows.SetSelected(state_.rows.IdsTopDown()[0], false);
  Event(key, kStart + 2, 2048, 1048576);
  Cycle(kStart + 5);
  ASSERT_EQ(Rows().size(), 1u);
  FlowRowTexts refreshed = expected;
  refreshed[kColumnDownload] = "2.00 KB";
  refreshed[kColumnUpload] = "1.00 MB";
  refreshed[kColumnTotal] = FormatBytes(1048576 + 2048);
  refreshed[kColumnLastActivity] = FormatTimestamp(kStart + 2);
  EXPECT_EQ(Rows()[0].columns, refreshed);
  EXPECT_TRUE(Rows()[0].selected);
  EXPECT_EQ(Rows()[0].download, 2048u);
  EXPECT_EQ(Rows()[0].upload, 1048576u);
}

TEST_F(WorkerTest, RowIdentityAndTextsOfEdgeEndpoints) {
  const struct {
    std::uint32_t localPort;
    IpAddress address;
    std::uint32_t port;
    std::uint16_t protocol;
    const char *remote, *source;
  } cases[] = {{7, MakeIpv4(0, 0, 0, 0), 0, 1, "0.0.0.0: 0", "ICMP protocol"},
               {7, MakeIpv4(255, 255, 255, 255), 65535, 17, "255.255.255.255: 65535", "UDP protocol: 7"},
               {7, MakeIpv4(192, 168, 100, 200), 8080, 6, "192.168.100.200: 8080", "TCP protocol: 7"},
               {7, *ParseIp("2001:db8::1"), 443, 6, "2001:db8::1: 443", "TCP protocol: 7"},
               {7, *ParseIp("::ffff:198.51.100.7"), 53, 17, "::ffff:198.51.100.7: 53", "UDP protocol: 7"},
               {7, *ParseIp("fe80::1"), 0, 58, "fe80::1: 0", "ICMPv6 protocol"},
               {7, *ParseIp("2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff"), 65535, 6,
                "2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff: 65535", "TCP protocol: 7"},
               // Two processes to one remote: two rows.
               {5000, kRemote, 443, 6, "10.0.0.5: 443", "app.exe(1234): 5000"},
               {5001, kRemote, 443, 6, "10.0.0.5: 443", "other.exe(77): 5001"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remote);
    Event(Key(c.localPort, c.address, c.port, c.protocol), kStart - 3, 1, 1, c.protocol);
    Cycle(kStart);
    const FlowRow row = Rows().at(0);
    EXPECT_EQ(row.columns[kColumnRemote], c.remote);
    EXPECT_EQ(row.columns[kColumnHost], IpToText(c.address));
    EXPECT_EQ(row.columns[kColumnLocalSource], c.source);
  }
  EXPECT_EQ(Rows().size(), std::size(cases));
}

TEST_F(WorkerTest, FilteredOrClearedFlowsGetNoRowButStayCounted) {
  Filter({{"10.0.0", "app.exe"}}, FilterMode::kBlackList);
  const FlowKey key = Key(5000);
  Event(key, kStart - 3, 700, 300);
  state_.events.push_back(PacketEvent{Key(5001), 6, kStart - 3, {}});  // no flow: cleared while it waited
  worker_.RunCycle();
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(state_.stats.flows.at(key).download, 700u);
  // Decided again with the next event once the rules are loaded anew (none here).
  LoadFilters(state_, logs_ / "missing-filters.dat");
  Event(key, kStart - 3, 700, 300);
  worker_.RunCycle();
  ASSERT_EQ(Rows().size(), 1u);
  const FlowRow before = Rows()[0];
  EXPECT_EQ(before.columns[kColumnDownload], "700 B");
  // A row whose flow is gone is not updated.
  state_.stats.flows.clear();
  state_.events.push_back(PacketEvent{key, 6, kStart + 1, {}});
  Cycle(kStart + 10);
  EXPECT_EQ(Rows()[0].columns, before.columns);
}

TEST_F(WorkerTest, HighlightIsClearedOnceTheLastActivityIsFiveSecondsOld) {
  const auto insert = [this](const std::string& lastActivity) {
    FlowRow row;
    row.columns[kColumnLastActivity] = lastActivity;
    row.selected = true;
    return state_.rows.InsertTop(row);
  };
  const std::pair<int, bool> ages[] = {{4, true}, {5, false}, {9, false}, {600, false}};
  for (const auto& [age, selected] : ages) {
    state_.rows.Clear();
    const RowId id = insert(FormatTimestamp(kStart));
    Cycle(kStart + age - 1);  // the expiry looks at the time after the cycle's one-second sleep
    EXPECT_EQ(state_.rows.Get(id)->selected, selected) << "age " << age;
  }
  // An unreadable last activity ends the pass.
  const RowId last = insert(FormatTimestamp(kStart)), bad = insert("not a time"), top = insert(FormatTimestamp(kStart));
  Cycle(kStart + 600);
  EXPECT_TRUE(state_.rows.Get(last)->selected);
  EXPECT_TRUE(state_.rows.Get(bad)->selected);
  EXPECT_FALSE(state_.rows.Get(top)->selected);
}

TEST_F(WorkerTest, MidnightResetRunsOnceSavesTheListAndTheFlagClearsAtOneMinutePast) {
  const FlowKey key = Key(5000);
  Event(key, kMidnight - 10, 4096, 0);
  Cycle(kMidnight - 5);  // 23:59:56 after the sleep: no reset
  ASSERT_EQ(Rows().size(), 1u);
  state_.stats.cumulativeDownload = 4096;
  state_.stats.proxyFlows.push_back(ProxyFlow{1, "h", "s", 1, 1});
  Cycle(kMidnight - 1);  // 00:00:00
  EXPECT_TRUE(Rows().empty());
  EXPECT_TRUE(state_.stats.flows.empty());
  EXPECT_TRUE(state_.stats.proxyFlows.empty());
  EXPECT_EQ(state_.stats.cumulativeDownload, 0u);
  const auto logs = ListLogs(logs_);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].displayText, "2023-11-15 00:00:00");
  const auto saved = ReadTrafficLog(logs_ / logs[0].fileName);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0][kColumnDownload], "4.00 KB");

  // Later in the same minute: no second reset; 00:01 clears the flag for the next midnight.
  Event(key, kMidnight + 10, 1, 0);
  Cycle(kMidnight + 20);
  Cycle(kMidnight + 58);  // 00:00:59
  EXPECT_EQ(Rows().size(), 1u);
  Cycle(kMidnight + 59);  // 00:01:00
  EXPECT_EQ(Rows().size(), 1u);
  Cycle(kMidnight + 86400 - 1);
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(ListLogs(logs_).size(), 2u);
}

TEST_F(WorkerTest, AMidnightSaveThatFailsKeepsTheListAndIsReported) {
  std::vector<std::string> reported;
  worker_.SetSaveProblemHandler([&reported](const std::string& message) { reported.push_back(message); });
  std::filesystem::create_directories(logs_.parent_path());
  std::ofstream(logs_.string()) << "x";  // a plain file where the log directory should be
  Event(Key(5000), kMidnight - 10);
  Cycle(kMidnight - 5);
  ASSERT_EQ(Rows().size(), 1u);
  Cycle(kMidnight - 1);
  Cycle(kMidnight + 10);
  EXPECT_EQ(Rows().size(), 1u);
  EXPECT_EQ(state_.stats.flows.size(), 1u);
  ASSERT_EQ(reported.size(), 1u) << "told once, not every cycle of the minute";
  EXPECT_EQ(reported[0].rfind("Can't write to " + logs_.string(), 0), 0u) << reported[0];
}

TEST_F(WorkerTest, ProxyRowColumnZeroFallsBackFromTheHostToItsAddressToTheServerTextToQuestionMarks) {
  names_.SetForward("resolved.example", {MakeIpv4(93, 184, 216, 34)});
  names_.SetForward6("resolved.example", {*ParseIp("2001:db8::34")});
  names_.SetForward6("six.example", {*ParseIp("2001:db8::6")});
  const struct {
    std::string host, serverText, column0;
  } cases[] = {{"10.1.2.3", "", "10.1.2.3"},
               {"2001:db8::3", "", "2001:db8::3"},
               {"resolved.example", "", "93.184.216.34"},
               {"six.example", "", "2001:db8::6"},
               {"unknown.example", "proxy.lan:3128", "proxy.lan:3128"},
               {"unknown2.example", "", "???"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    state_.settings.SetProxyServerText(c.serverText);
    Proxy(c.host, 5000, kStart - 3, 300, Direction::kOutgoing);
    Cycle(kStart);
    const FlowRow row = Rows().at(0);
    EXPECT_EQ(row.columns[kColumnRemote], c.column0);
    EXPECT_EQ(row.columns[kColumnHost], c.host);
    EXPECT_EQ(row.columns[kColumnLocalSource], "app.exe(1234): 5000");
    EXPECT_EQ(row.columns[kColumnFullPath], "");
    EXPECT_EQ(row.iconPath, "/usr/bin/app");
    EXPECT_TRUE(row.selected);
  }
}

TEST_F(WorkerTest, EveryProxyEventIsCountedIncludingTheFirstAndAfterAReset) {
  Filter({{"blocked", "<ANY>"}}, FilterMode::kBlackList);
  Proxy("www.example", 5000, kStart - 4, 300, Direction::kOutgoing);
  Proxy("www.example", 5000, kStart - 3, 2000, Direction::kIncoming);
  Proxy("www.example", 5001, kStart - 3, 50, Direction::kOutgoing);     // another local source: own flow
  Proxy("blocked.example", 5000, kStart - 3, 7, Direction::kOutgoing);  // counted, not shown
  worker_.RunCycle();
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  const FlowRowTexts& www = rows[1].columns;
  EXPECT_EQ(www[kColumnUpload], "300 B");
  EXPECT_EQ(www[kColumnDownload], "1.95 KB");
  EXPECT_EQ(www[kColumnTotal], FormatBytes(2300));
  EXPECT_EQ(www[kColumnLastActivity], FormatTimestamp(kStart - 3));
  EXPECT_EQ(www[kColumnFirstActivity], FormatTimestamp(kStart - 4));
  EXPECT_EQ(rows[1].download, 2000u);
  EXPECT_EQ(rows[1].upload, 300u);
  EXPECT_EQ(rows[0].columns[kColumnLocalSource], "other.exe(77): 5001");
  EXPECT_EQ(state_.stats.tickUpload, 357u);
  EXPECT_EQ(state_.stats.tickDownload, 2000u);
  ASSERT_EQ(state_.stats.proxyFlows.size(), 3u);
  EXPECT_EQ(state_.stats.proxyFlows[0].localPort, 5000u);
  // After a reset the flows start afresh.
  state_.stats.ClearFlows();
  state_.rows.Clear();
  Proxy("www.example", 5000, kStart, 40, Direction::kOutgoing);
  Cycle(kStart + 5);
  rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].columns[kColumnUpload], "40 B");
  EXPECT_EQ(state_.stats.proxyFlows.size(), 1u);
}

TEST_F(WorkerTest, RowsShowTheFlowsTrafficNameThenTheDnsNameThenTheReverseName) {
  DnsAddressAnswer dns;
  dns.name = "dns.example";
  dns.address = {10, 0, 0, 6};
  dns.addressSize = 4;
  Filter({{"ads.", "<ANY>"}}, FilterMode::kBlackList);
  const FlowKey sni = Key(5000, MakeIpv4(10, 0, 0, 5), 1), ads = Key(5000, MakeIpv4(10, 0, 0, 8), 4);
  const FlowKey unnamed = Key(5000, MakeIpv4(10, 0, 0, 7), 3);
  for (const auto& key : {sni, Key(5000, MakeIpv4(10, 0, 0, 6), 2), unnamed, ads}) Event(key, kStart - 3);
  state_.stats.observedNames.Learn({dns}, kStart);
  state_.stats.flows[sni].observedName = std::make_shared<const std::string>("sni.example");
  state_.stats.flows[ads].observedName = std::make_shared<const std::string>("ads.example");
  state_.stats.downloadRemotes[sni.remoteAddress] = RemoteTotal{"10.0.0.5", 1};
  worker_.RunCycle();
  resolver_.ApplyResolvedName(sni.remoteAddress, "edge.cdn.example");
  resolver_.ApplyResolvedName(unnamed.remoteAddress, "rev.example");
  state_.settings.nameHostsFromTraffic = false;
  Event(Key(5001, MakeIpv4(10, 0, 0, 6), 5), clock_.NowSeconds() - 3);
  worker_.RunCycle();

  std::map<std::string, std::string> shown;
  for (const FlowRow& row : Rows()) shown[row.columns[kColumnRemote]] = row.columns[kColumnHost];
  const std::map<std::string, std::string> expected = {
      {"10.0.0.5: 1", "sni.example"},  // the reverse name does not replace it
      {"10.0.0.6: 2", "dns.example"},
      {"10.0.0.7: 3", "rev.example"},
      {"10.0.0.6: 5", "10.0.0.6"},  // names from traffic switched off
  };                                // 10.0.0.8 is hidden by the rule on its name
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(state_.stats.downloadRemotes.at(sni.remoteAddress).displayName, "sni.example");
}

// A flow whose address alone a rule hides waits for a name; a name its
// traffic gave it meanwhile is the one shown and judged, not the lookup's.
TEST_F(WorkerTest, AWaitingFlowIsJudgedByTheNameItsTrafficGaveIt) {
  Filter({{"wanted.", "<ANY>"}}, FilterMode::kWhiteList);
  const FlowKey tls = Key(5000, MakeIpv4(10, 0, 0, 9), 1);
  Event(tls, kStart - 3);
  Event(Key(5000, MakeIpv4(10, 0, 0, 9), 2), kStart - 3);
  worker_.RunCycle();
  EXPECT_TRUE(Rows().empty());
  state_.stats.flows[tls].observedName = std::make_shared<const std::string>("api.wanted.example");
  state_.stats.flows[tls].namedByConnection = true;
  resolver_.ApplyResolvedName(tls.remoteAddress, "rev.example");
  const std::vector<FlowRow> rows = Rows();
  ASSERT_EQ(rows.size(), 1u);  // the other flow stays hidden by the looked-up name
  EXPECT_EQ(rows[0].columns[kColumnRemote], "10.0.0.9: 1");
  EXPECT_EQ(rows[0].columns[kColumnHost], "api.wanted.example");
  EXPECT_TRUE(rows[0].namedByTraffic);
}

}  // namespace
}  // namespace quorvel
