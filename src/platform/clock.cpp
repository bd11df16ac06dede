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
