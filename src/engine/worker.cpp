#include "engine/worker.h"

#include <charconv>
#include <ctime>
#include <deque>
#include <iterator>
#include <optional>
#include <utility>

#include "mainwindow/format.h"
#include "persistence/traffic_log.h"

namespace quorvel {
namespace {

constexpr std::uint16_t kTcp = 6;

// Due when older than the settle time; compared as unsigned, so an event
// stamped in the future is due at once.
bool IsDue(std::int64_t now, std::int64_t eventTime) {
  return static_cast<std::uint64_t>(now - eventTime) > static_cast<std::uint64_t>(Worker::kSettleSeconds);
}

// Moves the due front of a queue out. When all of it is due (a burst that
// settled) the queue is swapped out whole, so the lock is held only for the
// time checks.
template <typename Event>
std::deque<Event> TakeDue(std::deque<Event>& events, std::int64_t now) {
  std::size_t count = 0;
  while (count < events.size() && IsDue(now, events[count].time)) ++count;
  std::deque<Event> due;
  if (count == events.size()) {
    due.swap(events);
    return due;
  }
  const auto end = events.begin() + static_cast<std::ptrdiff_t>(count);
  due.assign(std::make_move_iterator(events.begin()), std::make_move_iterator(end));
  events.erase(events.begin(), end);
  return due;
}

// Column 0 of a flow row: "%s: %s" of the dotted address and the port as
// "%u". Built by hand: it is made once per applied event.
std::string RemoteText(Ipv4Address address, std::uint32_t port) {
  const auto* octets = reinterpret_cast<const std::uint8_t*>(&address);
  char digits[16];
  std::string text;
  text.reserve(24);
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text += '.';
    text.append(digits, std::to_chars(digits, digits + sizeof digits, octets[i]).ptr);
  }
  text += ": ";
  text.append(digits, std::to_chars(digits, digits + sizeof digits, port).ptr);
  return text;
}

void SetByteColumns(FlowRow& row, std::uint64_t download, std::uint64_t upload) {
  row.columns[kColumnDownload] = FormatBytes(download);
  row.columns[kColumnUpload] = FormatBytes(upload);
  row.columns[kColumnTotal] = FormatBytes(download + upload);
}

// New totals and last activity of a row with fresh activity, which is highlighted.
FlowRowChange ActivityChange(std::uint64_t download, std::uint64_t upload, const std::string& time) {
  FlowRowChange change;
  change.Set(kColumnDownload, FormatBytes(download))
      .Set(kColumnUpload, FormatBytes(upload))
      .Set(kColumnTotal, FormatBytes(download + upload))
      .Set(kColumnLastActivity, time)
      .Select(true);
  return change;
}

}  // namespace

std::size_t Worker::ProxyKeyHash::operator()(const ProxyKey& key) const {
  const std::size_t a = std::hash<std::string>{}(key.host);
  return a ^ (std::hash<std::string>{}(key.localSource) + 0x9e3779b97f4a7c15ULL + (a << 6) + (a >> 2));
}

Worker::Worker(EngineState& state, LocalSources& localSources, HostResolverPool& resolver, NameResolver& names,
               Clock& clock, std::filesystem::path logDirectory)
    : state_(state),
      localSources_(localSources),
      resolver_(resolver),
      names_(names),
      clock_(clock),
      logDirectory_(std::move(logDirectory)) {}

void Worker::WorkerThread(const RunFlag& run) {
  while (run.IsSet()) RunCycle(&run);
}

void Worker::RunCycle(const RunFlag* run) {
  // Events are taken out under the queue lock and applied after it is
  // released, so the capture thread never waits for list work.
  for (const PacketEvent& event : TakeDueEvents(clock_.NowSeconds())) {
    if (UpdateFlowRow(event)) clock_.Sleep(kNewRowPauseMilliseconds, run);
  }
  for (const ProxyEvent& event : TakeDueProxyEvents(clock_.NowSeconds())) UpdateProxyFlowRow(event);

  clock_.Sleep(kCycleMilliseconds, run);

  const std::int64_t now = clock_.NowSeconds();
  ExpireHighlights(now);
  MidnightReset(now);
}

const std::string& Worker::TimeText(std::int64_t time) {
  if (lastTimeText_.empty() || time != lastTime_) {
    lastTimeText_ = FormatTimestamp(time);
    lastTime_ = time;
  }
  return lastTimeText_;
}

std::deque<PacketEvent> Worker::TakeDueEvents(std::int64_t now) {
  std::lock_guard lock(state_.queueMutex);
  return TakeDue(state_.events, now);
}

std::deque<ProxyEvent> Worker::TakeDueProxyEvents(std::int64_t now) {
  std::lock_guard lock(state_.queueProxyMutex);
  return TakeDue(state_.proxyEvents, now);
}

bool Worker::UpdateFlowRow(const PacketEvent& event) {
  const FlowKey& key = event.key;
  const std::string remoteText = RemoteText(key.remoteAddress, key.remotePort);
  const std::string_view addressText = std::string_view(remoteText).substr(0, remoteText.find(':'));
  // The row shows the owner of the port as it is now; the flow is found by
  // the event's own key, which carries the text of packet time.
  const LocalSourceCache::Entry& owner = localSources_.Lookup(key.localPort, event.protocol);
  const std::string& localSource = owner.text;

  std::lock_guard list(state_.listMutex);
  std::lock_guard map2(state_.map2Mutex);
  const auto flowView = [&]() -> std::optional<FlowView> {
    std::lock_guard stat(state_.statMutex);
    const auto flow = state_.stats.flows.find(key);
    if (flow == state_.stats.flows.end()) return std::nullopt;
    return FlowView{flow->second.download, flow->second.upload, ShownName(flow->second)};
  };
  FlowRows& rows = state_.rows;
  if (const auto id = rows.FindRowByEndpoint(remoteText, localSource)) {
    const auto flow = flowView();
    if (!flow) return false;  // cleared while its event waited
    FlowRowChange change = ActivityChange(flow->download, flow->upload, TimeText(event.time));
    // A name that came after the row was made replaces the one shown, and
    // the filter decides again on it.
    const std::string* shown = rows.CellText(*id, kColumnHost);
    if (!flow->name.empty() && shown && *shown != flow->name) {
      if (state_.filters.IsHiddenByFilters(flow->name, addressText, localSource)) {
        rows.Erase(*id);
        return false;
      }
      rows.Update(*id, [&flow](FlowRow& row) {
        row.columns[kColumnHost] = flow->name;
        row.namedByTraffic = true;
      });
    }
    rows.UpdateColumns(*id, std::move(change));
    return false;
  }

  const auto flow = flowView();
  if (!flow) return false;
  const std::string hostText = flow->name.empty() ? std::string(addressText) : flow->name;
  if (state_.filters.IsHiddenByFilters(hostText, addressText, localSource)) return false;
  FlowRow row;
  row.columns[kColumnRemote] = remoteText;
  row.columns[kColumnHost] = hostText;
  row.namedByTraffic = !flow->name.empty();
  SetByteColumns(row, flow->download, flow->upload);
  row.columns[kColumnLocalSource] = localSource;
  row.columns[kColumnFirstActivity] = TimeText(event.time);
  row.columns[kColumnLastActivity] = row.columns[kColumnFirstActivity];
  row.columns[kColumnFullPath] = owner.path;
  row.iconPath = owner.path;
  row.selected = true;
  rows.InsertTop(std::move(row));
  // Rows named by the traffic keep their name; the lookup still names the
  // address's other rows and, failing traffic names, its totals.
  resolver_.Request(key.remoteAddress);
  return true;
}

std::string Worker::ShownName(const TrafficFlow& flow) {
  if (!state_.settings.nameHostsFromTraffic.load(std::memory_order_relaxed)) return {};
  ObservedName name = flow.observedName;
  if (!name) name = state_.stats.observedNames.Find(flow.remoteAddress, clock_.NowSeconds());
  if (!name) return {};
  // The address's totals in the pies go by the name its rows show.
  for (RemoteMap* remotes : {&state_.stats.downloadRemotes, &state_.stats.uploadRemotes}) {
    const auto entry = remotes->find(flow.remoteAddress);
    if (entry == remotes->end()) continue;
    entry->second.displayName = *name;
    entry->second.namedByTraffic = true;
  }
  return *name;
}

ProxyFlow& Worker::ProxyFlowFor(const ProxyEvent& event, const std::string& localSource) {
  auto& flows = state_.stats.proxyFlows;
  if (flows.size() != proxyIndexSize_) {
    // Emptied by a reset since the last event.
    proxyIndex_.clear();
    for (std::size_t i = 0; i < flows.size(); ++i) proxyIndex_.emplace(ProxyKey{flows[i].host, flows[i].localSource}, i);
    proxyIndexSize_ = flows.size();
  }
  ProxyKey key{event.host, localSource};
  if (const auto found = proxyIndex_.find(key); found != proxyIndex_.end()) return flows[found->second];
  flows.push_back(ProxyFlow{event.localPort, event.host, localSource, 0, 0});
  proxyIndex_.emplace(std::move(key), flows.size() - 1);
  proxyIndexSize_ = flows.size();
  return flows.back();
}

std::string Worker::ProxyAddressText(const std::string& host) {
  if (ParseIpv4(host)) return host;
  const std::vector<Ipv4Address> addresses = names_.ResolveIpv4(host);
  if (!addresses.empty()) return Ipv4ToText(addresses.front());
  std::string server = state_.settings.ProxyServerText();
  return server.empty() ? "???" : server;
}

void Worker::UpdateProxyFlowRow(const ProxyEvent& event) {
  const LocalSourceCache::Entry& owner = localSources_.Lookup(event.localPort, kTcp);
  const std::string& localSource = owner.text;

  std::uint64_t download = 0;
  std::uint64_t upload = 0;
  {
    std::lock_guard stat(state_.statMutex);
    // The request that creates the flow is counted too: events are merged per
    // second, so it may stand for many packets.
    ProxyFlow& flow = ProxyFlowFor(event, localSource);
    if (event.direction == Direction::kOutgoing) {
      flow.upload += event.length;
      state_.stats.tickUpload += event.length;
    } else {
      flow.download += event.length;
      state_.stats.tickDownload += event.length;
    }
    download = flow.download;
    upload = flow.upload;
  }

  const std::string& time = TimeText(event.time);
  const auto refresh = [&](RowId id) { state_.rows.UpdateColumns(id, ActivityChange(download, upload, time)); };
  {
    std::lock_guard list(state_.listMutex);
    if (const auto id = state_.rows.FindRowByHost(event.host, localSource)) {
      refresh(*id);
      return;
    }
  }
  // The forward lookup may take long: it runs without listMutex.
  const std::string addressText = ProxyAddressText(event.host);
  std::lock_guard list(state_.listMutex);
  if (const auto id = state_.rows.FindRowByHost(event.host, localSource)) {
    refresh(*id);
    return;
  }
  if (state_.filters.IsHiddenByFilters(event.host, addressText, localSource)) return;
  FlowRow row;
  row.columns[kColumnRemote] = addressText;
  row.columns[kColumnHost] = event.host;
  SetByteColumns(row, download, upload);
  row.columns[kColumnLocalSource] = localSource;
  row.columns[kColumnFirstActivity] = time;
  row.columns[kColumnLastActivity] = time;
  row.iconPath = owner.path;  // column 8 stays empty for proxy rows
  row.selected = true;
  state_.rows.InsertTop(std::move(row));
}

void Worker::ExpireHighlights(std::int64_t now) {
  std::lock_guard list(state_.listMutex);
  FlowRows& rows = state_.rows;
  for (const RowId id : rows.IdsTopDown()) {
    const auto lastActivity = rows.LastActivityTime(id);
    if (!lastActivity) break;  // an unreadable cell ends the pass
    const std::int64_t age = now - *lastActivity;
    if (age >= kHighlightMinAge && age < kHighlightMaxAge) rows.SetSelected(id, false);
  }
}

void Worker::MidnightReset(std::int64_t now) {
  const std::time_t time = static_cast<std::time_t>(now);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr || local.tm_hour != 0 || local.tm_min != 0) {
    midnightDone_ = false;
    return;
  }
  if (midnightDone_) return;

  // The day's list is kept as a traffic log before it is cleared; the reset
  // clears even when the log cannot be written.
  std::vector<LogRow> texts;
  {
    std::lock_guard list(state_.listMutex);
    texts = state_.rows.TextsTopDown();
  }
  if (!texts.empty()) {
    Status saved = WriteTrafficLog(logDirectory_, texts, now).status;
    std::lock_guard lock(saveMutex_);
    lastMidnightSave_ = std::move(saved);
  }

  {
    std::lock_guard stat(state_.statMutex);
    state_.stats.ClearFlows();
  }
  {
    std::lock_guard list(state_.listMutex);
    state_.rows.Clear();
  }
  {
    std::lock_guard stat(state_.statMutex);
    state_.stats.cumulativeDownload = 0;
    state_.stats.cumulativeUpload = 0;
  }
  midnightDone_ = true;
}

Status Worker::LastMidnightSave() const {
  std::lock_guard lock(saveMutex_);
  return lastMidnightSave_;
}

}  // namespace quorvel
