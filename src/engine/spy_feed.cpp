#include "engine/spy_feed.h"

#include <thread>

namespace quorvel {

void SpyFeedRegistry::Register(SpyListener* listener) { listener_.store(listener); }

void SpyFeedRegistry::Unregister() {
  listener_.store(nullptr);
  // A feed that loaded the listener before the store above has counted
  // itself in first; wait for it to leave.
  while (runningFeeds_.load() != 0) std::this_thread::yield();
}

void SpyFeedRegistry::Feed(const SpyPacket& packet) {
  runningFeeds_.fetch_add(1);
  if (SpyListener* listener = listener_.load()) listener->OnSpyPacket(packet);
  runningFeeds_.fetch_sub(1);
}

}  // namespace quorvel
