#include "platform/clock.h"

#include <thread>

namespace quorvel {

void RunFlag::Set(bool running) {
  {
    std::lock_guard lock(mutex_);
    running_ = running;
  }
  changed_.notify_all();
}

bool RunFlag::IsSet() const {
  std::lock_guard lock(mutex_);
  return running_;
}

bool RunFlag::WaitWhileSet(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [this] { return !running_; });
  return running_;
}

std::int64_t SystemClock::NowSeconds() const {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t SystemClock::NowMicroseconds() const {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t ReplayClock::NowMicroseconds() const {
  const std::int64_t packet = packetMicroseconds_.load(std::memory_order_relaxed);
  return packet == kNoPacket ? system_.NowMicroseconds() : packet;
}

std::int64_t ReplayClock::NowSeconds() const {
  const std::int64_t microseconds = NowMicroseconds();
  return microseconds / 1'000'000 - (microseconds % 1'000'000 < 0 ? 1 : 0);
}

std::int64_t SystemClock::SteadyMilliseconds() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::Sleep(std::int64_t milliseconds, const RunFlag* interrupt) {
  if (milliseconds <= 0) return;
  if (interrupt) {
    interrupt->WaitWhileSet(std::chrono::milliseconds(milliseconds));
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

}  // namespace quorvel
