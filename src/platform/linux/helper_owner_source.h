#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/owner_source.h"

namespace quorvel {

class HelperProcess;

// Socket owners read by a quorvel-capture of its own, which keeps only the
// rights that reading other users' /proc/PID/fd and exe needs. A helper that
// ended is started again once per call.
//
// With kernel events, a second one loads them and names single endpoints,
// so that a lookup never waits behind a reading of the tables. It is started
// at the first question; once it fails, owners come from the tables alone.
class HelperOwnerSource final : public OwnerSource {
 public:
  HelperOwnerSource(std::string helperPath, bool kernelEvents);
  ~HelperOwnerSource() override;

  bool ReadOwners(std::vector<SocketOwner>& owners) override;
  std::optional<std::uint64_t> TablesStamp() override;
  bool TracksSockets() const override;
  OwnerLookup FindOwner(bool udp, std::uint16_t port, Ipv4Address localAddress, SocketOwner& owner) override;
  std::uint64_t OwnerEvents() const override;
  // Why owners do not come from kernel events although asked for; empty
  // when they do, were not asked for or nobody asked yet.
  std::string KernelEventsProblem() const override;

 private:
  bool Ask(const std::function<bool(HelperProcess&)>& exchange);
  // Starts the events helper once; true while it answers. Holds eventsMutex_.
  bool EventsHelperLocked() const;
  void StopEventsLocked(std::string problem) const;

  std::string helperPath_;
  std::mutex mutex_;
  std::unique_ptr<HelperProcess> helper_;

  // Started from the const TracksSockets too.
  mutable std::mutex eventsMutex_;
  mutable bool eventsWanted_;
  mutable std::unique_ptr<HelperProcess> events_;
  mutable std::string eventsProblem_;
  mutable int unanswered_ = 0;
  std::atomic<std::uint64_t> ownerEvents_{0};
  // The events helper's own count, mapped from it; stays mapped to the end.
  mutable std::atomic<const std::uint64_t*> sharedOwnerEvents_{nullptr};
};

}  // namespace quorvel
