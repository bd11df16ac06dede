#include "engine/worker.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "common/format.h"

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

void SetByteColumns(FlowRow& row, std::uint64_t download, std::uint64_t upload) {
  row.columns[kColumnDownload] = FormatBytes(download);
  row.columns[kColumnUpload] = FormatBytes(upload);
  row.columns[kColumnTotal] = FormatBytes(download + upload);
  row.download = download;
  row.upload = upload;
}

// New totals and last activity of a row with fresh activity, which is highlighted.
FlowRowChange ActivityChange(std::uint64_t download, std::uint64_t upload, const std::string& time) {
  FlowRowChange change;
  change.Set(kColumnDownload, FormatBytes(download))
      .Set(kColumnUpload, FormatBytes(upload))
      .Set(kColumnTotal, FormatBytes(download + upload))
      .Set(kColumnLastActivity, time)
      .SetBytes(download, upload)
      .Select(true);
  return change;
}

}  // namespace

std::size_t Worker::ProxyKeyHash::operator()(const ProxyKey& key) const {
  const std::size_t a = std::hash<std::string>{}(key.host);
  return a ^ (std::hash<std::string>{}(key.localSource) + 0x9e3779b97f4a7c15ULL + (a << 6) + (a >> 2));
}

Worker::Worker(EngineState& state, LocalSources& localSources, HostResolverPool& resolver, NameResolver& names,
               Clock& clock, DayLogSaver saveDayLog)
    : state_(state),
      localSources_(localSources),
      resolver_(resolver),
      names_(names),
      clock_(clock),
      saveDayLog_(std::move(saveDayLog)) {}

void Worker::WorkerThread(const RunFlag& run) {
  while (run.IsSet()) RunCycle(&run);
}

std::vector<IpAddress> Worker::ResolveUnlessStopped(const std::string& host) {
  const auto resolve = [](NameResolver& names, const std::string& name) {
    const std::vector<Ipv4Address> ipv4 = names.ResolveIpv4(name);
    if (ipv4.empty()) return names.ResolveIpv6(name);
    return std::vector<IpAddress>(ipv4.begin(), ipv4.end());
  };
  if (run_ == nullptr) return resolve(names_, host);
  // The lookup may outlast the worker: it runs on a thread of its own that
  // shares only its result slot, and is left behind when the worker stops.
  struct Slot {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<std::vector<IpAddress>> addresses;
  };
  auto slot = std::make_shared<Slot>();
  std::thread([slot, names = &names_, host, resolve] {
    std::vector<IpAddress> addresses = resolve(*names, host);
    std::lock_guard lock(slot->mutex);
    slot->addresses = std::move(addresses);
    slot->done.notify_all();
  }).detach();
  std::unique_lock lock(slot->mutex);
  while (!slot->done.wait_for(lock, std::chrono::milliseconds(kStopCheckMilliseconds),
                              [&slot] { return slot->addresses.has_value(); })) {
    if (!run_->IsSet()) return {};
  }
  return std::move(*slot->addresses);
}

void Worker::RunCycle(const RunFlag* run) {
  run_ = run;
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
  const std::string remoteText = EndpointText(key.remoteAddress, key.remotePort);
  const std::string_view addressText = *EndpointAddressPart(remoteText);
  // The row shows the owner of the port as it is now; the flow is found by
  // the event's own key, which carries the text of packet time.
  const Ipv4Address interfaceAddress = state_.settings.interfaceAddress.load(std::memory_order_relaxed);
  const LocalSourceCache::Entry& owner = localSources_.Lookup(key.localPort, event.protocol, interfaceAddress);
  const std::string& localSource = owner.text;

  std::lock_guard list(state_.listMutex);
  std::lock_guard map2(state_.map2Mutex);
  const auto flowView = [&]() -> std::optional<FlowView> {
    std::lock_guard stat(state_.statMutex);
    const auto flow = state_.stats.flows.find(key);
    if (flow == state_.stats.flows.end()) return std::nullopt;
    const std::int64_t first = flow->second.firstMicroseconds;
    return FlowView{flow->second.download, flow->second.upload, ShownName(flow->second, key.remoteAddress),
                    first / 1'000'000 - (first % 1'000'000 < 0 ? 1 : 0)};
  };
  FlowRows& rows = state_.rows;
  if (!event.movedFrom.empty() && event.movedFrom != localSource) {
    MoveGuessedRow(remoteText, event.movedFrom, owner);
  }
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
        state_.hidden.Hide(remoteText, localSource);
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

  HiddenFlows& hidden = state_.hidden;
  if (HiddenFlows::Entry* entry = hidden.Find(remoteText, localSource)) {
    if (entry->waiting) entry->waiting->row.columns[kColumnLastActivity] = TimeText(event.time);
    return false;
  }
  const auto flow = flowView();
  if (!flow) return false;
  // The filter decides on the name the row shows: the traffic's, else the
  // looked-up one once known; until then the flow waits for a lookup when
  // the address text alone hides it.
  const std::optional<std::string> resolved = resolver_.KnownName(key.remoteAddress);
  const bool named = !flow->name.empty() || resolved;
  FlowRow row;
  row.columns[kColumnRemote] = remoteText;
  row.columns[kColumnHost] = !flow->name.empty() ? flow->name : resolved ? *resolved : std::string(addressText);
  row.namedByTraffic = !flow->name.empty();
  SetByteColumns(row, flow->download, flow->upload);
  row.columns[kColumnLocalSource] = localSource;
  // A flow that took over a first guess started before this event.
  const std::int64_t first = event.movedFrom.empty() ? event.time : std::min(flow->firstSecond, event.time);
  row.columns[kColumnFirstActivity] = TimeText(first);
  row.columns[kColumnLastActivity] = TimeText(event.time);
  row.columns[kColumnFullPath] = owner.path;
  row.iconPath = owner.path;
  row.selected = true;
  if (state_.filters.IsHiddenByFilters(row.columns[kColumnHost], addressText, localSource)) {
    if (named) {
      hidden.Hide(remoteText, localSource);
    } else {
      hidden.HideUntilNamed(key, std::move(row));
      resolver_.Request(key.remoteAddress);
    }
    return false;
  }
  rows.InsertTop(std::move(row));
  // Rows named by the traffic keep their name; the lookup still names the
  // address's other rows and, failing traffic names, its totals.
  if (!resolved) resolver_.Request(key.remoteAddress);
  return true;
}

void Worker::MoveGuessedRow(const std::string& remoteText, const std::string& guess,
                            const LocalSourceCache::Entry& owner) {
  FlowRows& rows = state_.rows;
  const auto guessed = rows.FindRowByEndpoint(remoteText, guess);
  if (!guessed) return;
  const std::string addressText = remoteText.substr(0, remoteText.find(':'));
  if (const auto named = rows.FindRowByEndpoint(remoteText, owner.text)) {
    // The guessed row came first: its first activity is the connection's.
    const FlowRowPtr first = rows.Get(*guessed);
    rows.UpdateColumns(*named, FlowRowChange().Set(kColumnFirstActivity, first->columns[kColumnFirstActivity]));
    rows.Erase(*guessed);
  } else if (state_.filters.IsHiddenByFilters(addressText, addressText, owner.text)) {
    rows.Erase(*guessed);
  } else {
    rows.Update(*guessed, [&owner](FlowRow& row) {
      row.columns[kColumnLocalSource] = owner.text;
      row.columns[kColumnFullPath] = owner.path;
      row.iconPath = owner.path;
    });
  }
}

std::string Worker::ShownName(const TrafficFlow& flow, const IpAddress& remoteAddress) {
  if (!state_.settings.nameHostsFromTraffic.load(std::memory_order_relaxed)) return {};
  ObservedName name = flow.observedName;
  if (!name) name = state_.stats.observedNames.Find(remoteAddress, clock_.NowSeconds());
  if (!name) return {};
  // The address's totals in the pies go by the name its rows show.
  for (RemoteMap* remotes : {&state_.stats.downloadRemotes, &state_.stats.uploadRemotes}) {
    const auto entry = remotes->find(remoteAddress);
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
  if (ParseIp(host)) return host;
  const std::vector<IpAddress> addresses = ResolveUnlessStopped(host);
  if (!addresses.empty()) return IpToText(addresses.front());
  std::string server = state_.settings.ProxyServerText();
  return server.empty() ? "???" : server;
}

void Worker::UpdateProxyFlowRow(const ProxyEvent& event) {
  const LocalSourceCache::Entry& owner =
      localSources_.Lookup(event.localPort, kTcp, state_.settings.interfaceAddress.load(std::memory_order_relaxed));
  const std::string& localSource = owner.text;
  const auto needsRow = [&] {
    return !state_.rows.FindRowByHost(event.host, localSource) &&
           !state_.hidden.IsProxyHidden(event.host, localSource);
  };
  // The forward lookup for a new row may take long: it runs without listMutex.
  std::optional<std::string> addressText;
  {
    std::unique_lock list(state_.listMutex);
    if (needsRow()) {
      list.unlock();
      addressText = ProxyAddressText(event.host);
    }
  }

  // Counted and shown under one listMutex, so that a cut of the list sees
  // either both or neither.
  std::lock_guard list(state_.listMutex);
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
  if (const auto id = state_.rows.FindRowByHost(event.host, localSource)) {
    state_.rows.UpdateColumns(*id, ActivityChange(download, upload, time));
    return;
  }
  if (state_.hidden.IsProxyHidden(event.host, localSource)) return;
  // The list was emptied while the address was looked up.
  if (!addressText) addressText = ProxyAddressText(event.host);
  if (state_.filters.IsHiddenByFilters(event.host, *addressText, localSource)) {
    state_.hidden.HideProxy(event.host, localSource);
    return;
  }
  FlowRow row;
  row.columns[kColumnRemote] = *addressText;
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
    if (now - *lastActivity >= kHighlightAge) rows.SetSelected(id, false);
  }
}

void Worker::MidnightReset(std::int64_t now) {
  const std::time_t time = static_cast<std::time_t>(now);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr || local.tm_hour != 0 || local.tm_min != 0) {
    midnightDone_ = false;
    return;
  }
  if (midnightDone_ || !saveDayLog_) return;

  // The day's list is kept as a traffic log before it is cleared; when the
  // log cannot be written nothing is cleared and the user is told.
  const std::optional<Status> saved = saveDayLog_(now);
  if (!saved) return;  // a Save and Clear is running: try again next cycle
  midnightDone_ = true;
  if (!saved->ok && reportSaveProblem_) reportSaveProblem_(saved->error);
}

}  // namespace quorvel
