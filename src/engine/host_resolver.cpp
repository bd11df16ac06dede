#include "engine/host_resolver.h"

#include <algorithm>
#include <optional>

#include "common/format.h"

namespace quorvel {
namespace {

// Cuts a UTF-8 text to at most `limit` bytes without splitting a character.
void CutUtf8(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
}

}  // namespace

HostResolverPool::HostResolverPool(EngineState& state, NameResolver& names, Clock& clock, std::size_t threads)
    : state_(state),
      names_(names),
      clock_(clock),
      threadCount_(std::clamp<std::size_t>(threads, 1, kMaxThreads)),
      shared_(std::make_shared<Shared>()) {}

HostResolverPool::~HostResolverPool() { Stop(); }

void HostResolverPool::Start() {
  if (running_ != 0) return;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = false;
    shared_->alive += threadCount_;
  }
  for (std::size_t i = 0; i < threadCount_; ++i) {
    std::thread(ResolverThread, shared_, this, &names_).detach();
    ++threadsCreated_;
  }
  running_ = threadCount_;
}

void HostResolverPool::Stop() {
  std::unique_lock lock(shared_->mutex);
  shared_->stopping = true;
  shared_->waiting.clear();
  shared_->waitingOrRunning.clear();
  shared_->wake.notify_all();
  // A name being applied uses the pool and the engine: let it finish. A
  // lookup in progress is left behind and ends on its own.
  shared_->settled.wait(lock, [this] { return shared_->applying == 0; });
  running_ = 0;
}

void HostResolverPool::Request(const IpAddress& address) {
  Shared& shared = *shared_;
  {
    std::lock_guard lock(shared.mutex);
    if (shared.stopping || shared.waitingOrRunning.contains(address)) return;
    const auto cached = shared.cache.find(address);
    if (cached != shared.cache.end() && !cached->second.found &&
        clock_.SteadyMilliseconds() - cached->second.failedAt < kRetryFailureMilliseconds) {
      return;  // failed a moment ago: the row keeps its address text
    }
    shared.waitingOrRunning.insert(address);
    shared.waiting.push_back(address);
  }
  shared.wake.notify_one();
}

std::uint64_t HostResolverPool::LookupsMade() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->lookupsMade;
}

bool HostResolverPool::Idle() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->waiting.empty() && shared_->busy == 0;
}

std::size_t HostResolverPool::Waiting() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->waiting.size();
}

std::size_t HostResolverPool::ThreadsAlive() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->alive;
}

void HostResolverPool::ResolverThread(std::shared_ptr<Shared> shared, HostResolverPool* pool, NameResolver* names) {
  std::unique_lock lock(shared->mutex);
  for (;;) {
    shared->wake.wait(lock, [&] { return shared->stopping || !shared->waiting.empty(); });
    if (shared->stopping) break;
    const IpAddress address = shared->waiting.front();
    shared->waiting.pop_front();
    ++shared->busy;

    std::optional<std::string> name;
    const auto cached = shared->cache.find(address);
    const bool known = cached != shared->cache.end() && cached->second.found;
    if (known) name = cached->second.name;
    lock.unlock();
    if (!known) {
      name = names->ReverseLookup(address);
      if (name) CutUtf8(*name, kMaxNameLength);
    }
    lock.lock();
    // Stopped meanwhile: the pool may be gone.
    if (shared->stopping) {
      --shared->busy;
      break;
    }
    ++shared->applying;
    if (!known) pool->Remember(*shared, address, name);
    // A request arriving from now on starts a new round, so a row added after
    // this point is named by that round.
    shared->waitingOrRunning.erase(address);
    lock.unlock();
    if (name && !name->empty()) pool->ApplyResolvedName(address, *name);
    lock.lock();
    --shared->applying;
    --shared->busy;
    shared->settled.notify_all();
  }
  --shared->alive;
  shared->settled.notify_all();
}

void HostResolverPool::Remember(Shared& shared, const IpAddress& address, const std::optional<std::string>& name) {
  ++shared.lookupsMade;
  if (shared.cache.size() >= kMaxCachedAddresses) shared.cache.clear();
  CachedName& entry = shared.cache[address];
  entry.found = name && !name->empty();
  entry.name = entry.found ? *name : std::string();
  entry.failedAt = entry.found ? 0 : clock_.SteadyMilliseconds();
}

std::optional<std::string> HostResolverPool::KnownName(const IpAddress& address) const {
  std::lock_guard lock(shared_->mutex);
  const auto cached = shared_->cache.find(address);
  if (cached == shared_->cache.end() || !cached->second.found) return std::nullopt;
  return cached->second.name;
}

void HostResolverPool::ApplyResolvedName(const IpAddress& address, const std::string& name) {
  const std::string addressText = IpToText(address);
  std::lock_guard list(state_.listMutex);
  FlowRows& rows = state_.rows;
  const std::vector<RowId> ids = rows.RowsOfAddress(addressText);
  std::vector<HiddenFlows::Waiting> waiting = state_.hidden.TakeWaiting(address);
  if (ids.empty() && waiting.empty()) return;
  const auto hidden = [&](const FlowRow& row) {
    return state_.filters.IsHiddenByFilters(name, addressText, row.columns[kColumnLocalSource]);
  };
  for (const RowId id : ids) {
    const FlowRowPtr row = rows.Get(id);
    if (!row || row->namedByTraffic) continue;
    if (hidden(*row)) {
      state_.hidden.Hide(row->columns[kColumnRemote], row->columns[kColumnLocalSource]);
      rows.Erase(id);
    } else {
      rows.UpdateColumns(id, FlowRowChange().Set(kColumnHost, name));
    }
  }
  std::lock_guard stat(state_.statMutex);
  for (HiddenFlows::Waiting& flow : waiting) {
    const auto totals = state_.stats.flows.find(flow.key);
    if (totals == state_.stats.flows.end()) continue;  // cleared meanwhile
    // A name the traffic gave the flow meanwhile is the one its row shows.
    const TrafficFlow& counts = totals->second;
    const bool byTraffic = counts.observedName && state_.settings.nameHostsFromTraffic.load(std::memory_order_relaxed);
    const std::string& shown = byTraffic ? *counts.observedName : name;
    if (state_.filters.IsHiddenByFilters(shown, addressText, flow.row.columns[kColumnLocalSource])) {
      state_.hidden.Hide(flow.row.columns[kColumnRemote], flow.row.columns[kColumnLocalSource]);
      continue;
    }
    flow.row.columns[kColumnHost] = shown;
    flow.row.namedByTraffic = byTraffic;
    flow.row.columns[kColumnDownload] = FormatBytes(counts.download);
    flow.row.columns[kColumnUpload] = FormatBytes(counts.upload);
    flow.row.columns[kColumnTotal] = FormatBytes(counts.download + counts.upload);
    flow.row.download = counts.download;
    flow.row.upload = counts.upload;
    flow.row.selected = true;
    rows.InsertTop(std::move(flow.row));
  }
  for (RemoteMap* remotes : {&state_.stats.downloadRemotes, &state_.stats.uploadRemotes}) {
    const auto entry = remotes->find(address);
    if (entry != remotes->end() && !entry->second.namedByTraffic) entry->second.displayName = name;
  }
}

}  // namespace quorvel
