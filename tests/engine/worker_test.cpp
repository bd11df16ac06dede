#include "engine/worker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "common/format.h"
#include "filters/filters_file.h"
#include "persistence/save_and_clear.h"
#include "persistence/traffic_log.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

using testing::FakeClock;
using testing::FakeNameResolver;
using testing::FakeOwnerSource;

constexpr std::int64_t kStart = 1'700'000'000;      // 2023-11-14 22:13:20 UTC
constexpr std::int64_t kMidnight = 1'700'006'400;   // 2023-11-15 00:00:00 UTC
const Ipv4Address kRemote = MakeIpv4(10, 0, 0, 5);

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove_all(logDirectory_);
    owners_.SetOwners({SocketOwner{5000, false, 1234, true, "app.exe", "/usr/bin/app"},
                       SocketOwner{5001, false, 77, true, "other.exe", "/opt/other"}});
    ASSERT_TRUE(sources_.RunPass());
  }
  void TearDown() override { std::filesystem::remove_all(logDirectory_); }

  FlowKey Key(std::uint32_t localPort, Ipv4Address remote = kRemote, std::uint32_t remotePort = 443) {
    return FlowKey{sources_.LookupLocalSource(localPort, 6), localPort, remote, remotePort};
  }
  void SetFlow(const FlowKey& key, std::uint64_t download, std::uint64_t upload) {
    std::lock_guard lock(state_.statMutex);
    TrafficFlow& flow = state_.stats.flows[key];
    flow.upload = upload;
    flow.download = download;
  }
  void Queue(const FlowKey& key, std::int64_t time) {
    std::lock_guard lock(state_.queueMutex);
    state_.events.push_back(PacketEvent{key, 6, time, {}});
  }
  void QueueProxy(const std::string& host, std::uint32_t port, std::int64_t time, std::uint64_t length,
                  Direction direction) {
    std::lock_guard lock(state_.queueProxyMutex);
    state_.proxyEvents.push_back(ProxyEvent{host, port, time, length, direction});
  }
  std::vector<FlowRow> Rows() {
    std::lock_guard lock(state_.listMutex);
    std::vector<FlowRow> rows;
    for (const auto& entry : *state_.rows.Snapshot().rows) rows.push_back(*entry.row);
    return rows;
  }
  std::size_t QueuedEvents() {
    std::lock_guard lock(state_.queueMutex);
    return state_.events.size();
  }

  EngineState state_;
  FakeOwnerSource owners_;
  FakeNameResolver names_;
  FakeClock clock_{kStart};
  LocalSources sources_{owners_, clock_};
  HostResolverPool resolver_{state_, names_, clock_, 2};  // not started: rows keep their address text
  std::filesystem::path logDirectory_ =
      std::filesystem::path(::testing::TempDir()) /
      ("worker_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  Worker worker_{state_, sources_, resolver_, names_, clock_,
                 [this](std::int64_t now) { return CutToTrafficLog(state_, logDirectory_, now, false, true); }};
};

TEST_F(WorkerTest, EventsAreAppliedOnceOlderThanTwoSecondsInQueueOrder) {
  const FlowKey a = Key(5000, kRemote, 1);
  const FlowKey b = Key(5000, kRemote, 2);
  const FlowKey c = Key(5000, kRemote, 3);
  const FlowKey future = Key(5000, kRemote, 4);
  for (const auto& key : {a, b, c, future}) SetFlow(key, 10, 10);

  Queue(a, kStart - 2);  // two seconds old: stays
  worker_.RunCycle();
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(QueuedEvents(), 1u);

  clock_.SetSeconds(kStart);
  {
    std::lock_guard lock(state_.queueMutex);
    state_.events = {PacketEvent{future, 6, kStart + 3600, {}}};  // stamped in the future: taken at once
  }
  Queue(a, kStart - 3);   // due
  Queue(b, kStart - 1);   // young: the drain stops here
  Queue(c, kStart - 10);  // due, but behind a young one
  worker_.RunCycle();
  ASSERT_EQ(Rows().size(), 2u);
  EXPECT_EQ(Rows()[0].columns[kColumnRemote], "10.0.0.5: 1");
  EXPECT_EQ(QueuedEvents(), 2u);

  // A cycle later both are due (the clock moved by the cycle's second and the pauses).
  clock_.SetSeconds(kStart + 2);
  worker_.RunCycle();
  EXPECT_EQ(Rows().size(), 4u);
  EXPECT_EQ(QueuedEvents(), 0u);
}

TEST_F(WorkerTest, NewRowTextsRefreshesAndTheNewRowPause) {
  const FlowKey key = Key(5000);
  SetFlow(key, 1536, 512);
  Queue(key, kStart - 3);
  worker_.RunCycle();
  ASSERT_EQ(Rows().size(), 1u);
  const FlowRow row = Rows()[0];
  const FlowRowTexts expected = {"10.0.0.5: 443", "10.0.0.5", "1.50 KB", "512 B", "2.00 KB", "app.exe(1234): 5000",
                                 "2023-11-14 22:13:17", "2023-11-14 22:13:17", "/usr/bin/app"};
  EXPECT_EQ(row.columns, expected);
  EXPECT_EQ(row.iconPath, "/usr/bin/app");
  EXPECT_EQ(row.download, 1536u) << "the counts beside the texts, for exports";
  EXPECT_EQ(row.upload, 512u);
  EXPECT_TRUE(row.selected);
  EXPECT_EQ(clock_.TotalSlept(), Worker::kNewRowPauseMilliseconds + Worker::kCycleMilliseconds);

  // A later event refreshes the byte columns and the last activity only.
  SetFlow(key, 2048, 1048576);
  {
    std::lock_guard lock(state_.listMutex);
    state_.rows.SetSelected(state_.rows.IdsTopDown()[0], false);
  }
  Queue(key, kStart + 2);
  clock_.SetSeconds(kStart + 5);
  worker_.RunCycle();
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
    const char* remote;
    const char* source;
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
    const FlowKey key{sources_.LookupLocalSource(c.localPort, c.protocol), c.localPort, c.address, c.port};
    SetFlow(key, 1, 1);
    {
      std::lock_guard lock(state_.queueMutex);
      state_.events.push_back(PacketEvent{key, c.protocol, kStart - 3, {}});
    }
    clock_.SetSeconds(kStart);
    worker_.RunCycle();
    const FlowRow row = Rows().at(0);
    EXPECT_EQ(row.columns[kColumnRemote], c.remote);
    EXPECT_EQ(row.columns[kColumnHost], IpToText(c.address));
    EXPECT_EQ(row.columns[kColumnLocalSource], c.source);
  }
  EXPECT_EQ(Rows().size(), std::size(cases));
}

TEST_F(WorkerTest, FilteredOrClearedFlowsGetNoRowButStayCounted) {
  {
    std::lock_guard lock(state_.listMutex);
    state_.filters.rules = {FilterRule{"10.0.0", "app.exe"}};
  }
  const FlowKey key = Key(5000);
  SetFlow(key, 700, 300);
  Queue(key, kStart - 3);
  Queue(Key(5001), kStart - 3);  // not in the flow table: cleared while its event waited
  worker_.RunCycle();
  EXPECT_TRUE(Rows().empty());
  {
    std::lock_guard lock(state_.statMutex);
    EXPECT_EQ(state_.stats.flows.at(key).download, 700u);
  }
  // Decided again with the next event once the rules are loaded anew (none here).
  LoadFilters(state_, logDirectory_ / "missing-filters.dat");
  Queue(key, kStart - 3);
  worker_.RunCycle();
  ASSERT_EQ(Rows().size(), 1u);
  const FlowRow before = Rows()[0];
  EXPECT_EQ(before.columns[kColumnDownload], "700 B");

  // A row whose flow is gone is not updated.
  {
    std::lock_guard lock(state_.statMutex);
    state_.stats.flows.clear();
  }
  Queue(key, kStart + 1);
  clock_.SetSeconds(kStart + 10);
  worker_.RunCycle();
  EXPECT_EQ(Rows()[0].columns, before.columns);
}

TEST_F(WorkerTest, HighlightIsClearedOnceTheLastActivityIsFiveSecondsOld) {
  const struct {
    std::int64_t age;
    bool selected;
  } cases[] = {{4, true}, {5, false}, {9, false}, {600, false}};
  for (const auto& c : cases) {
    FlowRow row;
    row.columns[kColumnLastActivity] = FormatTimestamp(kStart);
    row.selected = true;
    RowId id;
    {
      std::lock_guard lock(state_.listMutex);
      state_.rows.Clear();
      id = state_.rows.InsertTop(row);
    }
    // The expiry looks at the time after the cycle's one-second sleep.
    clock_.SetSeconds(kStart + c.age - 1);
    worker_.RunCycle();
    std::lock_guard lock(state_.listMutex);
    EXPECT_EQ(state_.rows.Get(id)->selected, c.selected) << "age " << c.age;
  }
  // An unreadable last activity ends the pass.
  std::vector<RowId> ids;
  for (const std::string& text : {FormatTimestamp(kStart), std::string("not a time"), FormatTimestamp(kStart)}) {
    FlowRow row;
    row.columns[kColumnLastActivity] = text;
    row.selected = true;
    std::lock_guard lock(state_.listMutex);
    ids.push_back(state_.rows.InsertTop(row));
  }
  clock_.SetSeconds(kStart + 600);
  worker_.RunCycle();
  std::lock_guard lock(state_.listMutex);
  EXPECT_TRUE(state_.rows.Get(ids[0])->selected);
  EXPECT_TRUE(state_.rows.Get(ids[1])->selected);
  EXPECT_FALSE(state_.rows.Get(ids[2])->selected);
}

TEST_F(WorkerTest, MidnightResetRunsOnceSavesTheListAndTheFlagClearsAtOneMinutePast) {
  const FlowKey key = Key(5000);
  SetFlow(key, 4096, 0);
  Queue(key, kMidnight - 10);
  clock_.SetSeconds(kMidnight - 5);
  worker_.RunCycle();  // 23:59:56 after the sleep: no reset
  ASSERT_EQ(Rows().size(), 1u);
  {
    std::lock_guard lock(state_.statMutex);
    state_.stats.cumulativeDownload = 4096;
    state_.stats.proxyFlows.push_back(ProxyFlow{1, "h", "s", 1, 1});
  }

  clock_.SetSeconds(kMidnight - 1);
  worker_.RunCycle();  // 00:00:00
  EXPECT_TRUE(Rows().empty());
  {
    std::lock_guard lock(state_.statMutex);
    EXPECT_TRUE(state_.stats.flows.empty());
    EXPECT_TRUE(state_.stats.proxyFlows.empty());
    EXPECT_EQ(state_.stats.cumulativeDownload, 0u);
  }
  const auto logs = ListLogs(logDirectory_);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].displayText, "2023-11-15 00:00:00");
  const auto saved = ReadTrafficLog(logDirectory_ / logs[0].fileName);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0][kColumnDownload], "4.00 KB");

  // Later in the same minute: no second reset.
  SetFlow(key, 1, 0);
  Queue(key, kMidnight + 10);
  clock_.SetSeconds(kMidnight + 20);
  worker_.RunCycle();
  clock_.SetSeconds(kMidnight + 58);
  worker_.RunCycle();  // 00:00:59
  EXPECT_EQ(Rows().size(), 1u);

  // 00:01 clears the flag: the next 00:00 resets again.
  clock_.SetSeconds(kMidnight + 59);
  worker_.RunCycle();  // 00:01:00
  EXPECT_EQ(Rows().size(), 1u);
  clock_.SetSeconds(kMidnight + 86400 - 1);
  worker_.RunCycle();
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(ListLogs(logDirectory_).size(), 2u);
}

TEST_F(WorkerTest, AMidnightSaveThatFailsKeepsTheListAndIsReported) {
  std::vector<std::string> reported;
  worker_.SetSaveProblemHandler([&reported](const std::string& message) { reported.push_back(message); });
  // A plain file where the log directory should be.
  std::filesystem::create_directories(logDirectory_.parent_path());
  { std::ofstream(logDirectory_.string()) << "x"; }
  const FlowKey key = Key(5000);
  SetFlow(key, 1, 1);
  Queue(key, kMidnight - 10);
  clock_.SetSeconds(kMidnight - 5);
  worker_.RunCycle();
  ASSERT_EQ(Rows().size(), 1u);
  clock_.SetSeconds(kMidnight - 1);
  worker_.RunCycle();
  clock_.SetSeconds(kMidnight + 10);
  worker_.RunCycle();
  EXPECT_EQ(Rows().size(), 1u);
  ASSERT_EQ(reported.size(), 1u) << "told once, not every cycle of the minute";
  EXPECT_EQ(reported[0].rfind("Can't write to " + logDirectory_.string(), 0), 0u) << reported[0];
  std::lock_guard lock(state_.statMutex);
  EXPECT_EQ(state_.stats.flows.size(), 1u);
}

class ProxyRowTest : public WorkerTest {};

TEST_F(ProxyRowTest, ColumnZeroFallsBackFromTheHostToItsAddressToTheServerTextToQuestionMarks) {
  names_.SetForward("resolved.example", {MakeIpv4(93, 184, 216, 34)});
  names_.SetForward6("resolved.example", {*ParseIp("2001:db8::34")});
  names_.SetForward6("six.example", {*ParseIp("2001:db8::6")});
  const struct {
    std::string host;
    std::string serverText;
    std::string column0;
  } cases[] = {{"10.1.2.3", "", "10.1.2.3"},
               {"2001:db8::3", "", "2001:db8::3"},
               {"resolved.example", "", "93.184.216.34"},
               {"six.example", "", "2001:db8::6"},
               {"unknown.example", "proxy.lan:3128", "proxy.lan:3128"},
               {"unknown2.example", "", "???"}};
  for (const auto& c : cases) {
    state_.settings.SetProxyServerText(c.serverText);
    QueueProxy(c.host, 5000, kStart - 3, 300, Direction::kOutgoing);
    clock_.SetSeconds(kStart);
    worker_.RunCycle();
    const FlowRow row = Rows().at(0);
    EXPECT_EQ(row.columns[kColumnRemote], c.column0) << c.host;
    EXPECT_EQ(row.columns[kColumnHost], c.host);
    EXPECT_EQ(row.columns[kColumnLocalSource], "app.exe(1234): 5000");
    EXPECT_EQ(row.columns[kColumnFullPath], "");
    EXPECT_EQ(row.iconPath, "/usr/bin/app");
    EXPECT_TRUE(row.selected);
  }
}

TEST_F(ProxyRowTest, EveryProxyEventIsCountedIncludingTheFirstAndAfterAReset) {
  {
    std::lock_guard lock(state_.listMutex);
    state_.filters.rules = {FilterRule{"blocked", "<ANY>"}};
  }
  QueueProxy("www.example", 5000, kStart - 4, 300, Direction::kOutgoing);
  QueueProxy("www.example", 5000, kStart - 3, 2000, Direction::kIncoming);
  QueueProxy("www.example", 5001, kStart - 3, 50, Direction::kOutgoing);  // another local source: own flow
  QueueProxy("blocked.example", 5000, kStart - 3, 7, Direction::kOutgoing);  // counted, not shown
  worker_.RunCycle();
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].columns[kColumnUpload], "300 B");
  EXPECT_EQ(rows[1].columns[kColumnDownload], "1.95 KB");
  EXPECT_EQ(rows[1].columns[kColumnTotal], FormatBytes(2300));
  EXPECT_EQ(rows[1].download, 2000u);
  EXPECT_EQ(rows[1].upload, 300u);
  EXPECT_EQ(rows[1].columns[kColumnLastActivity], FormatTimestamp(kStart - 3));
  EXPECT_EQ(rows[1].columns[kColumnFirstActivity], FormatTimestamp(kStart - 4));
  EXPECT_EQ(rows[0].columns[kColumnLocalSource], "other.exe(77): 5001");
  {
    std::lock_guard lock(state_.statMutex);
    EXPECT_EQ(state_.stats.tickUpload, 357u);
    EXPECT_EQ(state_.stats.tickDownload, 2000u);
    ASSERT_EQ(state_.stats.proxyFlows.size(), 3u);
    EXPECT_EQ(state_.stats.proxyFlows[0].localPort, 5000u);
    state_.stats.ClearFlows();
  }
  {
    std::lock_guard lock(state_.listMutex);
    state_.rows.Clear();
  }
  // After a reset the flows start afresh.
  QueueProxy("www.example", 5000, kStart, 40, Direction::kOutgoing);
  clock_.SetSeconds(kStart + 5);
  worker_.RunCycle();
  rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].columns[kColumnUpload], "40 B");
  std::lock_guard lock(state_.statMutex);
  ASSERT_EQ(state_.stats.proxyFlows.size(), 1u);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

TEST_F(WorkerTest, RowsShowTheFlowsTrafficNameThenTheDnsNameThenTheReverseName) {
  const auto named = [](const char* name) { return std::make_shared<const std::string>(name); };
  DnsAddressAnswer dns;
  dns.name = "dns.example";
  dns.address = {10, 0, 0, 6};
  dns.addressSize = 4;
  {
    std::lock_guard lock(state_.listMutex);
    state_.filters.rules = {FilterRule{"ads.", "<ANY>"}};
    state_.filters.mode = FilterMode::kBlackList;
  }
  const FlowKey sni = Key(5000, MakeIpv4(10, 0, 0, 5), 1);
  const FlowKey byDns = Key(5000, MakeIpv4(10, 0, 0, 6), 2);
  const FlowKey unnamed = Key(5000, MakeIpv4(10, 0, 0, 7), 3);
  const FlowKey ads = Key(5000, MakeIpv4(10, 0, 0, 8), 4);
  const FlowKey switchedOff = Key(5001, MakeIpv4(10, 0, 0, 6), 5);
  for (const auto& key : {sni, byDns, unnamed, ads}) SetFlow(key, 1, 1);
  {
    std::lock_guard lock(state_.statMutex);
    state_.stats.observedNames.Learn({dns}, kStart);
    state_.stats.flows[sni].observedName = named("sni.example");
    state_.stats.flows[ads].observedName = named("ads.example");
    state_.stats.downloadRemotes[sni.remoteAddress] = RemoteTotal{"10.0.0.5", 1};
  }
  for (const auto& key : {sni, byDns, unnamed, ads}) Queue(key, kStart - 3);
  worker_.RunCycle();
  resolver_.ApplyResolvedName(sni.remoteAddress, "edge.cdn.example");
  resolver_.ApplyResolvedName(unnamed.remoteAddress, "rev.example");

  state_.settings.nameHostsFromTraffic = false;
  SetFlow(switchedOff, 1, 1);
  Queue(switchedOff, clock_.NowSeconds() - 3);
  worker_.RunCycle();

  std::map<std::string, std::string> shown;
  for (const FlowRow& row : Rows()) shown[row.columns[kColumnRemote]] = row.columns[kColumnHost];
  const std::map<std::string, std::string> expected = {
      {"10.0.0.5: 1", "sni.example"},  // the reverse name does not replace it
      {"10.0.0.6: 2", "dns.example"},
      {"10.0.0.7: 3", "rev.example"},
      {"10.0.0.6: 5", "10.0.0.6"},  // names from traffic switched off
  };  // 10.0.0.8 is hidden by the rule on its name
  EXPECT_EQ(shown, expected);
  std::lock_guard lock(state_.statMutex);
  EXPECT_EQ(state_.stats.downloadRemotes.at(sni.remoteAddress).displayName, "sni.example");
}

// A flow whose address alone a rule hides waits for a name; a name its
// traffic gave it meanwhile is the one shown and judged, not the lookup's.
TEST_F(WorkerTest, AWaitingFlowIsJudgedByTheNameItsTrafficGaveIt) {
  {
    std::lock_guard lock(state_.listMutex);
    state_.filters.rules = {FilterRule{"wanted.", "<ANY>"}};
    state_.filters.mode = FilterMode::kWhiteList;
  }
  const FlowKey tls = Key(5000, MakeIpv4(10, 0, 0, 9), 1);
  const FlowKey plain = Key(5000, MakeIpv4(10, 0, 0, 9), 2);
  for (const auto& key : {tls, plain}) {
    SetFlow(key, 1, 1);
    Queue(key, kStart - 3);
  }
  worker_.RunCycle();
  EXPECT_TRUE(Rows().empty());
  {
    std::lock_guard lock(state_.statMutex);
    state_.stats.flows[tls].observedName = std::make_shared<const std::string>("api.wanted.example");
    state_.stats.flows[tls].namedByConnection = true;
  }
  resolver_.ApplyResolvedName(tls.remoteAddress, "rev.example");
  const std::vector<FlowRow> rows = Rows();
  ASSERT_EQ(rows.size(), 1u);  // the other flow stays hidden by the looked-up name
  EXPECT_EQ(rows[0].columns[kColumnRemote], "10.0.0.9: 1");
  EXPECT_EQ(rows[0].columns[kColumnHost], "api.wanted.example");
  EXPECT_TRUE(rows[0].namedByTraffic);
}

}  // namespace
}  // namespace quorvel
