#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"
#include "platform/owner_source.h"

namespace quorvel {

// Names the local end of flows: first from the owners the kernel reported as
// sockets got their ports (when the owner source tracks sockets), then from a
// map from local port to owner text and executable path, rebuilt by
// ConnectionTableThread every 300 ms or on request.
// A periodic pass is left out while the owner source's stamp says no socket
// came or went, or while kernel events name sockets (at most kPassesLeftOut
// in a row), so that a quiet machine does not keep the kernel walking its
// whole socket hash three times a second.
class LocalSources {
 public:
  LocalSources(OwnerSource& owners, Clock& clock);
  ~LocalSources();
  LocalSources(const LocalSources&) = delete;
  LocalSources& operator=(const LocalSources&) = delete;

  // Starts ConnectionTableThread; lookups give protocol texts until then.
  void Start();
  // Clears the connection-table flag and waits for the thread to end.
  void Stop();

  // "%s(%d): %d" or "Process ID# %d" for a known owner, else "TCP protocol: %u",
  // "UDP protocol: %u" or the protocol's name. `path` receives the owner's full
  // path when one is known and is left unchanged otherwise. A miss may wait
  // for a pass that starts after it (at most 1 s, and within a waiting
  // budget) unless that pass could not name it (MissMayAskForPass); any
  // thread. `localAddress` picks between sockets bound to
  // different addresses where the kernel reports owners.
  std::string LookupLocalSource(std::uint32_t localPort, std::uint16_t protocol,
                                std::string* path = nullptr, Ipv4Address localAddress = 0);

  // Changes whenever an owner entry is added or changed; lock-free, so the
  // capture thread can keep its own cache of texts.
  std::uint64_t Generation() const;

  // How owners are found, for the status bar: "kernel events" or "connection table".
  std::string AttributionName() const;
  // Why it is the connection table although kernel events were asked for;
  // empty otherwise.
  std::string AttributionProblem() const;

  // One pass over the owner source, as the thread makes it; false when the
  // tables could not be read. For tests and the thread itself.
  bool RunPass();

  // Share of elapsed time that lookups may spend waiting for passes, and the
  // most waiting allowed at once: a capture ring absorbs a 200 ms stall at
  // line rate, not a whole second.
  static constexpr double kWaitShare = 0.2;
  static constexpr std::int64_t kWaitBurstMilliseconds = 200;
  static constexpr std::int64_t kMaxWaitMilliseconds = 1000;
  static constexpr std::int64_t kPassPeriodMilliseconds = 300;
  // A socket that took the place of another in one period leaves the stamp
  // as it was; this bounds how long its port can keep the old name.
  static constexpr int kPassesLeftOut = 9;
  // A port a requested pass found unowned asks for no other pass this long:
  // the longest the passes that run anyway may be apart.
  static constexpr std::int64_t kUnownedHoldMilliseconds = (kPassesLeftOut + 1) * kPassPeriodMilliseconds;

 private:
  struct Owner {
    std::string text;
    std::string path;
  };
  // An auto-reset event: Set wakes one waiter, a wait consumes the signal.
  class AutoResetEvent {
   public:
    void Set();
    bool WaitFor(std::int64_t milliseconds);  // true when signalled
   private:
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_ = false;
  };

  void ConnectionTableThread();
  // Waits until a pass is requested or a periodic one is due; false when stopping.
  bool AwaitNextPass();
  bool FindOwner(std::uint32_t port, std::string& text, std::string* path);
  // Waits, within `milliseconds`, until a pass that started after the call
  // has finished (true); a pass already under way does not count.
  bool AwaitFreshPass(std::int64_t milliseconds);
  // Whether a miss on `port` is worth a fresh pass: not when kernel events
  // said no socket has it and a pass since they came up said so too, nor
  // while the port is held as seen unowned.
  bool MissMayAskForPass(std::uint32_t port, bool eventsSaidNone);
  // Notes the passes made before kernel events first answered; true the
  // first time.
  bool NoteEventsUp();
  std::int64_t TakeWaitAllowance();
  void ReturnWaitAllowance(std::int64_t unused);

  OwnerSource& owners_;
  Clock& clock_;

  mutable std::mutex portMapMutex_;
  std::unordered_map<std::uint32_t, Owner> portOwnerMap_;
  std::atomic<std::uint64_t> generation_{0};

  AutoResetEvent refreshRequest_;
  // Passes are counted, not signalled: a miss waits for a pass it did not
  // see start, never for a completion nobody waited for.
  std::mutex passMutex_;
  std::condition_variable passDone_;
  std::uint64_t passesStarted_ = 0;
  std::uint64_t passesDone_ = 0;
  std::optional<std::uint64_t> eventsUpAtPass_;  // passes started when kernel events first answered
  std::unordered_map<std::uint32_t, std::int64_t> unownedUntil_;  // port -> steady ms
  RunFlag connectionTableFlag_;
  std::atomic<bool> threadRunning_{false};
  std::thread thread_;

  std::mutex budgetMutex_;
  std::int64_t waitBudget_ = kWaitBurstMilliseconds;  // milliseconds of waiting allowed now
  std::int64_t budgetUpdated_ = -1;                 // steady ms of the last refill
  std::vector<SocketOwner> scratch_;
  std::optional<std::uint64_t> passStamp_;  // the owner source's stamp before the last pass
};

// The fallback texts for TCP, UDP and other protocols.
std::string ProtocolSourceText(std::uint32_t localPort, std::uint16_t protocol);

}  // namespace quorvel
