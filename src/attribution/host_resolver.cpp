#include "attribution/host_resolver.h"

#include <algorithm>
#include <optional>

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
    : state_(state), names_(names), clock_(clock), threadCount_(std::clamp<std::size_t>(threads, 1, kMaxThreads)) {}

HostResolverPool::~HostResolverPool() { Stop(); }

void HostResolverPool::Start() {
  std::lock_guard lock(mutex_);
  if (!threads_.empty()) return;
  stopping_ = false;
  for (std::size_t i = 0; i < threadCount_; ++i) {
    threads_.emplace_back([this] { ResolverThread(); });
    ++threadsCreated_;
  }
}

void HostResolverPool::Stop() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    waiting_.clear();
    waitingOrRunning_.clear();
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (auto& thread : threads) thread.join();
}

void HostResolverPool::Request(Ipv4Address address) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || waitingOrRunning_.contains(address)) return;
    const auto cached = cache_.find(address);
    if (cached != cache_.end() && !cached->second.found &&
        clock_.SteadyMilliseconds() - cached->second.failedAt < kRetryFailureMilliseconds) {
      return;  // failed a moment ago: the row keeps its address text
    }
    waitingOrRunning_.insert(address);
    waiting_.push_back(address);
  }
  wake_.notify_one();
}

bool HostResolverPool::Idle() const {
  std::lock_guard lock(mutex_);
  return waiting_.empty() && busy_ == 0;
}

std::size_t HostResolverPool::Waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

void HostResolverPool::ResolverThread() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (stopping_) return;
    const Ipv4Address address = waiting_.front();
    waiting_.pop_front();
    ++busy_;

    std::optional<std::string> name;
    const auto cached = cache_.find(address);
    const bool known = cached != cache_.end() && cached->second.found;
    if (known) name = cached->second.name;
    lock.unlock();
    if (!known) {
      ++lookupsMade_;
      name = names_.ReverseLookup(address);
      if (name) CutUtf8(*name, kMaxNameLength);
    }
    lock.lock();
    if (!known) {
      if (cache_.size() >= kMaxCachedAddresses) cache_.clear();
      CachedName& entry = cache_[address];
      entry.found = name && !name->empty();
      entry.name = entry.found ? *name : std::string();
      entry.failedAt = entry.found ? 0 : clock_.SteadyMilliseconds();
    }
    // A request arriving from now on starts a new round, so a row added after
    // this point is named by that round.
    waitingOrRunning_.erase(address);
    const bool deliver = !stopping_ && name && !name->empty();
    lock.unlock();
    if (deliver) ApplyResolvedName(address, *name);
    lock.lock();
    --busy_;
  }
}

void HostResolverPool::ApplyResolvedName(Ipv4Address address, const std::string& name) {
  const std::string addressText = Ipv4ToText(address);
  std::lock_guard list(state_.listMutex);
  FlowRows& rows = state_.rows;
  const std::vector<RowId> ids = rows.RowsOfAddress(addressText);
  if (ids.empty()) return;
  for (const RowId id : ids) {
    const FlowRowPtr row = rows.Get(id);
    if (!row || row->namedByTraffic) continue;
    if (state_.filters.IsHiddenByFilters(name, name, row->columns[kColumnLocalSource])) {
      rows.Erase(id);
    } else {
      rows.UpdateColumns(id, FlowRowChange().Set(kColumnHost, name));
    }
  }
  std::lock_guard stat(state_.statMutex);
  for (RemoteMap* remotes : {&state_.stats.downloadRemotes, &state_.stats.uploadRemotes}) {
    const auto entry = remotes->find(address);
    if (entry != remotes->end() && !entry->second.namedByTraffic) entry->second.displayName = name;
  }
}

}  // namespace quorvel
