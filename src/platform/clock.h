#pragma once

#include <atomic>
#include <chrono>
#include <climits>
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
  // Microseconds since 1970-01-01 UTC, for packet times.
  virtual std::int64_t NowMicroseconds() const = 0;
  // Monotonic milliseconds, for waits and budgets.
  virtual std::int64_t SteadyMilliseconds() const = 0;
  // Sleeps `milliseconds`; returns early when `interrupt` (if given) is cleared.
  virtual void Sleep(std::int64_t milliseconds, const RunFlag* interrupt = nullptr) = 0;
};

class SystemClock final : public Clock {
 public:
  std::int64_t NowSeconds() const override;
  std::int64_t NowMicroseconds() const override;
  std::int64_t SteadyMilliseconds() const override;
  void Sleep(std::int64_t milliseconds, const RunFlag* interrupt) override;
};

// A replayed capture file's time: the time of the packet being replayed,
// the system's before the first one. Waits and budgets use the system clock.
class ReplayClock final : public Clock {
 public:
  void SetPacketTime(std::int64_t microseconds) { packetMicroseconds_.store(microseconds, std::memory_order_relaxed); }
  std::int64_t NowSeconds() const override;
  std::int64_t NowMicroseconds() const override;
  std::int64_t SteadyMilliseconds() const override { return system_.SteadyMilliseconds(); }
  void Sleep(std::int64_t milliseconds, const RunFlag* interrupt) override { system_.Sleep(milliseconds, interrupt); }

 private:
  static constexpr std::int64_t kNoPacket = INT64_MIN;
  SystemClock system_;
  std::atomic<std::int64_t> packetMicroseconds_{kNoPacket};
};

}  // namespace quorvel
