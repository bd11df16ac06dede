#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>

namespace quorvel {

// A value set now and then (settings, interface addresses) and read for every
// packet: a reader keeps its own copy and takes the lock only after a change,
// so the packet path costs one atomic load.
template <typename T>
class Published {
 public:
  Published() = default;
  explicit Published(T value) : value_(std::move(value)) {}

  void Set(T value) {
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
    version_.fetch_add(1, std::memory_order_release);
  }
  T Get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }

  // One reading thread's copy.
  class Reader {
   public:
    explicit Reader(const Published& source) : source_(source) {}
    const T& Get() {
      if (source_.version_.load(std::memory_order_acquire) != seen_) {
        std::lock_guard lock(source_.mutex_);
        copy_ = source_.value_;
        seen_ = source_.version_.load(std::memory_order_relaxed);
      }
      return copy_;
    }

   private:
    const Published& source_;
    std::uint64_t seen_ = std::numeric_limits<std::uint64_t>::max();
    T copy_{};
  };

 private:
  mutable std::mutex mutex_;
  std::atomic<std::uint64_t> version_{0};
  T value_{};
};

}  // namespace quorvel
