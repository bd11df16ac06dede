#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quorvel::testing {

// Time moves only when a test (or a Sleep) moves it.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::int64_t nowSeconds = 1'700'000'000) : millis_(nowSeconds * 1000) {}
  std::int64_t NowSeconds() const override { return millis_.load() / 1000; }
  std::int64_t NowMicroseconds() const override { return millis_.load() * 1000; }
  std::int64_t SteadyMilliseconds() const override { return millis_.load(); }
  // Advances the clock instead of waiting (and yields for a real millisecond).
  void Sleep(std::int64_t milliseconds, const RunFlag* interrupt) override;
  void Advance(std::int64_t milliseconds) { millis_ += milliseconds; }
  void SetSeconds(std::int64_t seconds) { millis_ = seconds * 1000; }
  std::int64_t TotalSlept() const { return slept_.load(); }

 private:
  std::atomic<std::int64_t> millis_;
  std::atomic<std::int64_t> slept_{0};
};

// Packets queued by a test; Dispatch hands them out, then reports a timeout
// (or the end, once Finish() was called).
class FakePacketSource final : public PacketSource {
 public:
  explicit FakePacketSource(std::string name = "fake0") : name_(std::move(name)) {}
  void Push(std::vector<std::uint8_t> packet);
  void Finish();
  // The next Dispatch fails with this error, as a capture whose helper died.
  void Fail(std::string error);
  Next Dispatch(PacketSink& sink, std::string& error) override;
  void Interrupt() override { interrupted_ = true; }
  CaptureStats Stats() const override;
  std::string Name() const override { return name_; }
  std::size_t Delivered() const { return delivered_.load(); }

 private:
  std::string name_;
  mutable std::mutex mutex_;
  std::deque<std::vector<std::uint8_t>> pending_;
  bool finished_ = false;
  std::string failure_;  // guarded by mutex_
  std::atomic<bool> interrupted_{false};
  std::atomic<std::size_t> delivered_{0};
};

// Hands out prepared sources per interface address; an address without a
// source fails to open with a message.
class FakePacketSourceFactory final : public PacketSourceFactory {
 public:
  // Returns the source that Open(address) will hand out (created on first use).
  FakePacketSource& SourceFor(Ipv4Address address);
  void RefusePromiscuous(bool refuse) { refusePromiscuous_ = refuse; }
  OpenedCapture Open(Ipv4Address interfaceAddress) override;
  std::vector<Ipv4Address> Opened() const;

 private:
  // A proxy that forwards to a source the factory keeps, so tests can feed it.
  class Handle;
  mutable std::mutex mutex_;
  std::map<Ipv4Address, std::shared_ptr<FakePacketSource>> sources_;
  std::vector<Ipv4Address> opened_;
  bool refusePromiscuous_ = false;
};

class FakeOwnerSource final : public OwnerSource {
 public:
  void SetOwners(std::vector<SocketOwner> owners);
  void Fail(bool fail) { fail_ = fail; }
  // While held, a pass blocks inside ReadOwners until released.
  void Hold(bool hold);
  bool ReadOwners(std::vector<SocketOwner>& owners) override;
  int Passes() const { return passes_.load(); }
  // The tables' stamp; none by default, so that every periodic pass runs.
  void SetStamp(std::optional<std::uint64_t> stamp);
  std::optional<std::uint64_t> TablesStamp() override;
  // Owners come from the tables, for this reason.
  void SetKernelEventsProblem(std::string problem) { problem_ = std::move(problem); }
  std::string KernelEventsProblem() const override { return problem_; }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
  std::vector<SocketOwner> owners_;
  std::atomic<bool> fail_{false};
  std::atomic<int> passes_{0};
  std::optional<std::uint64_t> stamp_;  // guarded by mutex_
  std::string problem_;
};

class FakeNameResolver final : public NameResolver {
 public:
  void SetHostName(std::string name);
  void SetForward(const std::string& host, std::vector<Ipv4Address> addresses);
  void SetForward6(const std::string& host, std::vector<IpAddress> addresses);
  void SetReverse(const IpAddress& address, std::string name);
  std::string HostName() override;
  std::vector<Ipv4Address> ResolveIpv4(const std::string& host) override;
  std::vector<IpAddress> ResolveIpv6(const std::string& host) override;
  std::optional<std::string> ReverseLookup(const IpAddress& address) override;
  int ReverseLookups() const { return reverseLookups_.load(); }

 private:
  std::mutex mutex_;
  std::string hostName_ = "testhost";
  std::map<std::string, std::vector<Ipv4Address>> forward_;
  std::map<std::string, std::vector<IpAddress>> forward6_;
  std::map<std::string, std::string> reverse_;  // by address text
  std::atomic<int> reverseLookups_{0};
};

class FakeInterfaceLister final : public InterfaceLister {
 public:
  std::vector<InterfaceInfo> interfaces;  // set before any thread lists them, or through Set
  std::optional<Ipv4Address> defaultRoute;
  void Set(std::vector<InterfaceInfo> list) {
    std::lock_guard lock(mutex_);
    interfaces = std::move(list);
  }
  std::vector<InterfaceInfo> List() override {
    std::lock_guard lock(mutex_);
    return interfaces;
  }
  std::optional<Ipv4Address> DefaultRouteAddress() override { return defaultRoute; }

 private:
  std::mutex mutex_;
};

// All fakes together, with the bundle that points at them.
struct FakePlatform {
  FakePacketSourceFactory packets;
  FakeOwnerSource owners;
  FakeNameResolver names;
  FakeInterfaceLister interfaces;
  FakeClock clock;
  Platform Bundle() { return Platform{packets, owners, names, interfaces, clock}; }
};

}  // namespace quorvel::testing
