#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/host_resolver.h"
#include "support/fake_platform.h"

namespace quorvel::testing {

// Waits for other threads, with a bound so that a hang fails the test.
inline bool WaitUntil(const std::function<bool()>& done, int seconds = 60) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline FlowRow MakeRow(const std::string& remote, const std::string& host, const std::string& source = "") {
  FlowRow row;
  row.columns[kColumnRemote] = remote;
  row.columns[kColumnHost] = host;
  row.columns[kColumnLocalSource] = source;
  return row;
}

// An engine with a pool of two resolver threads over fake names and a fake
// clock; rows are added and read under listMutex as the engine does.
class ResolverFixture : public ::testing::Test {
 protected:
  RowId AddRow(const std::string& remote, const std::string& host, const std::string& source) {
    std::lock_guard lock(state_.listMutex);
    return state_.rows.InsertTop(MakeRow(remote, host, source));
  }
  FlowRowPtr Row(RowId id) {
    std::lock_guard lock(state_.listMutex);
    return state_.rows.Get(id);
  }

  EngineState state_;
  FakeNameResolver names_;
  FakeClock clock_;
  HostResolverPool pool_{state_, names_, clock_, 2};
};

// Lookups that block until released, as a resolver waiting out a timeout.
class GatedResolver final : public NameResolver {
 public:
  std::string HostName() override { return "gated"; }
  std::vector<Ipv4Address> ResolveIpv4(const std::string&) override {
    Wait();
    return {MakeIpv4(192, 0, 2, 1)};
  }
  std::vector<IpAddress> ResolveIpv6(const std::string&) override { return {}; }
  std::optional<std::string> ReverseLookup(const IpAddress&) override {
    Wait();
    return "gated.example";
  }
  int Started() { return Locked(started_); }
  int Returned() { return Locked(returned_); }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  int Locked(const int& count) {
    std::lock_guard lock(mutex_);
    return count;
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    ++started_;
    changed_.wait(lock, [this] { return released_; });
    ++returned_;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  int started_ = 0;
  int returned_ = 0;
  bool released_ = false;
};

}  // namespace quorvel::testing
