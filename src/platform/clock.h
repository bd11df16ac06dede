#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quorvel {

// A run flag that a sleeping thread can be woken from when it is cleared.
class RunFlag {
 public:
  void Set(bool running);
  bool IsSet() const;
  // Waits until the flag is cleared or `timeout` has passed; returns IsSet().
  bool WaitWhileSet(std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool running_ = false;
};

// Wall clock, monotonic clock and sleep, injected so that timing rules can be
// tested on a fake clock without sleeping.
class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since 1970-01-01 UTC.
  virtual std::int64_t NowSeconds() const = 0;
  // Monotonic milliseconds, for waits and budgets.
  virtual std::int64_t SteadyMilliseconds() const = 0;
  // Sleeps `milliseconds`; returns early when `interrupt` (if given) is cleared.
  virtual void Sleep(std::int64_t milliseconds, const RunFlag* interrupt = nullptr) = 0;
};

class SystemClock final : public Clock {
 public:
  std::int64_t NowSeconds() const override;
  std::int64_t SteadyMilliseconds() const override;
  void Sleep(std::int64_t milliseconds, const RunFlag* interrupt) override;
};

}  // namespace quorvel
