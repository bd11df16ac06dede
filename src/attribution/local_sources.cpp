#include "attribution/local_sources.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "attribution/protocol_names.h"

namespace quorvel {
namespace {

constexpr std::uint16_t kTcp = 6;
constexpr std::uint16_t kUdp = 17;

std::string OwnerText(const SocketOwner& owner) {
  char text[320];
  if (owner.processFound) {
    std::snprintf(text, sizeof text, "%s(%d): %d", owner.name.c_str(), owner.pid,
                  static_cast<int>(owner.port));
  } else {
    std::snprintf(text, sizeof text, "Process ID# %d", owner.pid);
  }
  return text;
}

}  // namespace

std::string ProtocolSourceText(std::uint32_t localPort, std::uint16_t protocol) {
  if (protocol != kTcp && protocol != kUdp) return ProtocolName(protocol);
  char text[32];
  std::snprintf(text, sizeof text, protocol == kTcp ? "TCP protocol: %u" : "UDP protocol: %u",
                localPort);
  return text;
}

void LocalSources::AutoResetEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    set_ = true;
  }
  signalled_.notify_one();
}

bool LocalSources::AutoResetEvent::WaitFor(std::int64_t milliseconds) {
  std::unique_lock lock(mutex_);
  if (!signalled_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return set_; })) {
    return false;
  }
  set_ = false;
  return true;
}

LocalSources::LocalSources(OwnerSource& owners, Clock& clock) : owners_(owners), clock_(clock) {}

LocalSources::~LocalSources() { Stop(); }

void LocalSources::Start() {
  if (thread_.joinable()) return;
  connectionTableFlag_.Set(true);
  threadRunning_ = true;
  thread_ = std::thread([this] { ConnectionTableThread(); });
}

void LocalSources::Stop() {
  connectionTableFlag_.Set(false);
  refreshRequest_.Set();
  if (thread_.joinable()) thread_.join();
  threadRunning_ = false;
}

std::uint64_t LocalSources::Generation() const {
  // Both counters only grow, so their sum changes whenever either does.
  return generation_.load(std::memory_order_acquire) + owners_.OwnerEvents();
}

std::string LocalSources::AttributionName() const {
  return owners_.TracksSockets() ? "kernel events" : "connection table";
}

std::string LocalSources::AttributionProblem() const {
  return owners_.TracksSockets() ? std::string() : owners_.KernelEventsProblem();
}

bool LocalSources::RunPass() {
  // Taken before the tables are read, so a socket that comes during the pass
  // makes the next period's pass run.
  passStamp_ = owners_.TablesStamp();
  if (!owners_.ReadOwners(scratch_)) return false;
  std::lock_guard lock(portMapMutex_);
  for (const SocketOwner& owner : scratch_) {
    std::string text = OwnerText(owner);
    Owner& entry = portOwnerMap_[owner.port];
    if (entry.text != text || entry.path != owner.path) {
      entry.text = std::move(text);
      entry.path = owner.path;
      generation_.fetch_add(1, std::memory_order_release);
    }
  }
  return true;
}

void LocalSources::ConnectionTableThread() {
  while (connectionTableFlag_.IsSet()) {
    {
      std::lock_guard lock(passMutex_);
      ++passesStarted_;
    }
    const bool read = RunPass();
    {
      std::lock_guard lock(passMutex_);
      passesDone_ = passesStarted_;
    }
    passDone_.notify_all();
    if (!read) break;  // the tables are gone for good: lookups fall back at once
    if (!AwaitNextPass()) break;
  }
  {
    // Releases lookups waiting for a pass that will never come.
    std::lock_guard lock(passMutex_);
    threadRunning_ = false;
  }
  passDone_.notify_all();
}

bool LocalSources::AwaitFreshPass(std::int64_t milliseconds) {
  std::unique_lock lock(passMutex_);
  const std::uint64_t wanted = passesStarted_ + 1;
  refreshRequest_.Set();
  passDone_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                     [&] { return passesDone_ >= wanted || !threadRunning_.load(); });
  return passesDone_ >= wanted;
}

bool LocalSources::AwaitNextPass() {
  for (int leftOut = 0;; ++leftOut) {
    if (refreshRequest_.WaitFor(kPassPeriodMilliseconds)) break;
    if (!connectionTableFlag_.IsSet()) return false;
    if (leftOut == kPassesLeftOut) break;
    // Kernel events name every socket made since they came up: one pass
    // then finds the older ones, and later ones only catch what the events
    // could not, at their slowest.
    if (owners_.TracksSockets()) {
      if (NoteEventsUp()) break;
      continue;
    }
    if (!passStamp_ || owners_.TablesStamp() != passStamp_) break;
  }
  return connectionTableFlag_.IsSet();
}

bool LocalSources::FindOwner(std::uint32_t port, std::string& text, std::string* path) {
  std::lock_guard lock(portMapMutex_);
  const auto it = portOwnerMap_.find(port);
  if (it == portOwnerMap_.end()) return false;
  text = it->second.text;
  if (path) *path = it->second.path;
  return true;
}

std::int64_t LocalSources::TakeWaitAllowance() {
  std::lock_guard lock(budgetMutex_);
  const std::int64_t now = clock_.SteadyMilliseconds();
  if (budgetUpdated_ >= 0 && now > budgetUpdated_) {
    const auto earned = static_cast<std::int64_t>(static_cast<double>(now - budgetUpdated_) * kWaitShare);
    waitBudget_ = std::min(kWaitBurstMilliseconds, waitBudget_ + earned);
  }
  budgetUpdated_ = now;
  const std::int64_t allowance = std::min(kMaxWaitMilliseconds, waitBudget_);
  if (allowance > 0) waitBudget_ -= allowance;
  return std::max<std::int64_t>(allowance, 0);
}

void LocalSources::ReturnWaitAllowance(std::int64_t unused) {
  if (unused <= 0) return;
  std::lock_guard lock(budgetMutex_);
  waitBudget_ = std::min(kWaitBurstMilliseconds, waitBudget_ + unused);
}

bool LocalSources::MissMayAskForPass(std::uint32_t port, bool eventsSaidNone) {
  std::lock_guard lock(passMutex_);
  if (!threadRunning_.load()) return false;
  // Events name every socket that got its port since they were loaded; a
  // pass that started later saw all the older ones.
  if (eventsSaidNone && eventsUpAtPass_ && passesDone_ > *eventsUpAtPass_) return false;
  const auto unowned = unownedUntil_.find(port);
  if (unowned == unownedUntil_.end()) return true;
  if (clock_.SteadyMilliseconds() < unowned->second) return false;
  unownedUntil_.erase(unowned);  // only holds still running are kept
  return true;
}

bool LocalSources::NoteEventsUp() {
  std::lock_guard lock(passMutex_);
  if (eventsUpAtPass_) return false;
  eventsUpAtPass_ = passesStarted_;
  return true;
}

std::string LocalSources::LookupLocalSource(std::uint32_t localPort, std::uint16_t protocol,
                                            std::string* path, Ipv4Address localAddress) {
  if (protocol != kTcp && protocol != kUdp) return ProtocolName(protocol);
  bool eventsSaidNone = false;
  if (owners_.TracksSockets()) {
    NoteEventsUp();
    SocketOwner owner;
    const OwnerLookup found =
        owners_.FindOwner(protocol == kUdp, static_cast<std::uint16_t>(localPort), localAddress, owner);
    if (found == OwnerLookup::kFound) {
      owner.port = static_cast<std::uint16_t>(localPort);
      if (path) *path = owner.path;
      return OwnerText(owner);
    }
    eventsSaidNone = found == OwnerLookup::kNone;
  }
  std::string text;
  if (FindOwner(localPort, text, path)) return text;
  if (MissMayAskForPass(localPort, eventsSaidNone)) {
    // Wait for a fresh pass only within the waiting budget, so that a scan
    // of many unknown ports cannot stall the caller.
    const std::int64_t allowance = TakeWaitAllowance();
    if (allowance > 0) {
      const std::int64_t started = clock_.SteadyMilliseconds();
      const bool passed = AwaitFreshPass(allowance);
      const std::int64_t now = clock_.SteadyMilliseconds();
      ReturnWaitAllowance(allowance - (now - started));
      if (FindOwner(localPort, text, path)) return text;
      if (passed) {
        // Seen unowned after its packet came: its next misses are left to
        // the passes that run anyway, for as long as they may be apart.
        std::lock_guard lock(passMutex_);
        unownedUntil_[localPort] = now + kUnownedHoldMilliseconds;
      }
    }
  }
  return ProtocolSourceText(localPort, protocol);
}

}  // namespace quorvel
