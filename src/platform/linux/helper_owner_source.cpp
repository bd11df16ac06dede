#include "platform/linux/helper_owner_source.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string_view>

#include "platform/linux/helper_process.h"

namespace quorvel {
namespace {

// A pass over thousands of processes takes a while on a loaded machine.
constexpr int kReplyMilliseconds = 10000;
// Loading the kernel hooks takes a moment; a single lookup is a map read.
constexpr int kEventsStartMilliseconds = 10000;
constexpr int kFindOwnerMilliseconds = 50;
// Lookups left unanswered, their answers read past later, before the helper
// is given up as too slow.
constexpr int kMaxLateAnswers = 8;
// The events helper's count of owners is mapped whole: one page (the
// kernel rounds up where pages are larger).
constexpr std::size_t kPageBytes = 4096;

// What Receive says of a helper that is alive but has not answered yet.
constexpr std::string_view kSilent = "did not answer";

}  // namespace

HelperOwnerSource::HelperOwnerSource(std::string helperPath, bool kernelEvents)
    : helperPath_(std::move(helperPath)), eventsWanted_(kernelEvents) {}

HelperOwnerSource::~HelperOwnerSource() {
  if (const std::uint64_t* shared = sharedOwnerEvents_.load()) munmap(const_cast<std::uint64_t*>(shared), kPageBytes);
}

std::uint64_t HelperOwnerSource::OwnerEvents() const {
  // Owners the helper learned but nobody asked about yet make remembered
  // answers stale too: a port given up and taken again by another program.
  if (const std::uint64_t* shared = sharedOwnerEvents_.load(std::memory_order_acquire)) {
    return __atomic_load_n(shared, __ATOMIC_ACQUIRE);
  }
  return ownerEvents_.load(std::memory_order_acquire);
}

bool HelperOwnerSource::Ask(const std::function<bool(HelperProcess&)>& exchange) {
  std::lock_guard lock(mutex_);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!helper_) helper_ = HelperProcess::Start(helperPath_, HelperRole::kOwners).helper;
    if (!helper_) return false;
    if (exchange(*helper_)) return true;
    helper_.reset();
  }
  return false;
}

bool HelperOwnerSource::ReadOwners(std::vector<SocketOwner>& owners) {
  bool tablesRead = false;
  const bool answered = Ask([&](HelperProcess& helper) {
    owners.clear();
    if (!helper.Send(OwnersRequest{})) return false;
    std::string error;
    for (;;) {
      auto reply = helper.Receive(kReplyMilliseconds, error);
      auto* list = reply ? std::get_if<OwnerListReply>(&*reply) : nullptr;
      if (list == nullptr) return false;
      owners.insert(owners.end(), std::make_move_iterator(list->owners.begin()),
                    std::make_move_iterator(list->owners.end()));
      if (list->last) {
        tablesRead = !list->failed;
        return true;
      }
    }
  });
  return answered && tablesRead;
}

bool HelperOwnerSource::EventsHelperLocked() const {
  if (events_) return true;
  if (!eventsWanted_) return false;
  eventsWanted_ = false;  // one start: loading the hooks again on every lookup would stall the capture
  StartedHelper started = HelperProcess::Start(helperPath_, HelperRole::kOwnerEvents);
  if (!started.helper) {
    eventsProblem_ = started.error;
    return false;
  }
  std::string error;
  const auto reply = started.helper->Receive(kEventsStartMilliseconds, error);
  if (reply && std::holds_alternative<OpenedReply>(*reply)) {
    events_ = std::move(started.helper);
    if (const int counter = events_->TakeDescriptor(); counter >= 0) {
      void* page = mmap(nullptr, kPageBytes, PROT_READ, MAP_SHARED, counter, 0);
      close(counter);
      if (page != MAP_FAILED) sharedOwnerEvents_.store(static_cast<const std::uint64_t*>(page));
    }
    return true;
  }
  const auto* failed = reply ? std::get_if<OpenFailedReply>(&*reply) : nullptr;
  eventsProblem_ = failed ? failed->error : error;
  return false;
}

void HelperOwnerSource::StopEventsLocked(std::string problem) const {
  events_.reset();
  unanswered_ = 0;
  eventsProblem_ = std::move(problem);
}

bool HelperOwnerSource::TracksSockets() const {
  std::lock_guard lock(eventsMutex_);
  return EventsHelperLocked();
}

std::string HelperOwnerSource::KernelEventsProblem() const {
  std::lock_guard lock(eventsMutex_);
  return eventsProblem_;
}

OwnerLookup HelperOwnerSource::FindOwner(bool udp, std::uint16_t port, Ipv4Address localAddress, SocketOwner& owner) {
  if (port == 0) return OwnerLookup::kUnanswered;
  std::lock_guard lock(eventsMutex_);
  if (!EventsHelperLocked()) return OwnerLookup::kUnanswered;
  const FindOwnerRequest asked{udp, port, localAddress};
  if (!events_->Send(asked)) {
    StopEventsLocked("the kernel events helper " + events_->EndText());
    return OwnerLookup::kUnanswered;
  }
  ++unanswered_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFindOwnerMilliseconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    std::string error;
    const auto reply = events_->Receive(static_cast<int>(std::max<std::int64_t>(left.count(), 0)), error);
    if (!reply) {
      // Silent within the bound: this lookup falls back to the tables, and
      // its answer is read past by a later one.
      if (error == kSilent && unanswered_ <= kMaxLateAnswers) return OwnerLookup::kUnanswered;
      StopEventsLocked("the kernel events helper " + error);
      return OwnerLookup::kUnanswered;
    }
    const auto* found = std::get_if<FoundOwnerReply>(&*reply);
    if (found == nullptr) {
      StopEventsLocked("the kernel events helper sent an unexpected reply");
      return OwnerLookup::kUnanswered;
    }
    ownerEvents_.store(found->ownerEvents, std::memory_order_release);
    // Answers come in order: the last one outstanding is this lookup's.
    if (--unanswered_ > 0) continue;
    if (found->asked != asked) return OwnerLookup::kUnanswered;
    if (!found->found) return OwnerLookup::kNone;
    owner = found->owner;
    return OwnerLookup::kFound;
  }
}

std::optional<std::uint64_t> HelperOwnerSource::TablesStamp() {
  std::optional<std::uint64_t> stamp;
  Ask([&](HelperProcess& helper) {
    std::string error;
    if (!helper.Send(StampRequest{})) return false;
    const auto reply = helper.Receive(kReplyMilliseconds, error);
    const auto* answer = reply ? std::get_if<StampReply>(&*reply) : nullptr;
    if (answer == nullptr) return false;
    stamp = answer->stamp;
    return true;
  });
  return stamp;
}

}  // namespace quorvel
