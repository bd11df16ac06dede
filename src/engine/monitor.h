#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/host_resolver.h"
#include "attribution/local_sources.h"
#include "engine/engine_state.h"
#include "engine/worker.h"
#include "platform/platform.h"

namespace quorvel {

class CaptureLoop;

// How the monitor tells the user what happened; called from engine threads.
class MonitorObserver {
 public:
  virtual ~MonitorObserver() = default;
  // "Quorvel - %s(%s)": host name and interface address, once per capture start.
  virtual void OnWindowTitle(const std::string& title) = 0;
  // A problem worth a message box: "Can't set promiscuous mode", a capture
  // that cannot be opened, no interface at all.
  virtual void OnCaptureProblem(const std::string& message) = 0;
  // A traffic log that could not be written at midnight (the list is kept).
  virtual void OnSaveProblem(const std::string& message) { OnCaptureProblem(message); }
  // A running capture ended with an error (its helper gone, the interface
  // failed); the status says why. One whose interface is down or gone is
  // opened again once it is back; any other can be restarted.
  virtual void OnCaptureStopped(const std::string& message) { OnCaptureProblem(message); }
};

// What the status bar shows about the running capture.
struct CaptureStatus {
  std::string interfaceName;       // empty while nothing captures
  Ipv4Address address = 0;
  std::uint64_t packetsSeen = 0;   // buffers received since this capture started
  std::uint64_t kernelDropped = 0; // packets the kernel dropped for this capture
  std::uint64_t helperDropped = 0; // packets the capture helper could not hand over
  bool running = false;
  std::string attribution;         // how owners are found: "kernel events" or "connection table"
  std::string problem;             // why the capture stopped or could not start; empty otherwise
  std::string attributionProblem;  // why not kernel events although asked for; empty otherwise
  // The interface is down, unlinked or gone: capture resumes once it is back.
  bool interfaceDown = false;
};

struct MonitorOptions {
  // Turns events into flow rows (and names them); a headless user of the
  // flow table alone can do without.
  bool runWorker = true;
  // Keeps the list before the midnight reset clears it.
  DayLogSaver saveDayLog;
  std::size_t resolverThreads = HostResolverPool::kDefaultThreads;
  // Without an interface address set, choose one at Start; a replayed file
  // given IPv6 addresses only has no IPv4 address to choose.
  bool chooseInterface = true;
};

// Owns the engine threads: starts them, restarts capture on an interface
// change and stops them in order.
class Monitor {
 public:
  Monitor(EngineState& state, const Platform& platform, MonitorObserver& observer,
          MonitorOptions options = {});
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  // The interface address to monitor: the first IPv4 address of the host name;
  // where that is loopback or missing, the default-route interface's address,
  // else the first non-loopback interface that is up.
  std::optional<Ipv4Address> ChooseInterfaceAddress();

  // Starts the connection table, the capture, the worker and the resolvers.
  // Uses the address already set in the settings, or chooses one; with none
  // at all it reports so and keeps running without capture.
  void Start();
  // Restarts capture on another address; the old loop has ended before the
  // new one captures. Returns false when the address is the current one.
  bool ChangeInterface(Ipv4Address address);
  // Starts capture again on the current address, after it stopped.
  void RestartCapture();
  // Exit order: connection table, capture, worker (then the resolvers).
  void Stop();
  // Waits until the capture loop has ended by itself (end of an offline file).
  void WaitForCaptureEnd();

  CaptureStatus Status() const;
  LocalSources& localSources() { return localSources_; }
  // Null when the options ask for no worker.
  Worker* worker() { return worker_.get(); }

 private:
  void StartCapture();
  void StopCapture();
  struct WatchedInterface;
  void CaptureThread(Ipv4Address address);
  // Runs an opened capture until it is stopped, a file ends or it fails; returns the failure.
  std::optional<std::string> RunCapture(PacketSource& source, CaptureLoop& loop, WatchedInterface& watched);
  std::optional<Ipv4Address> FollowInterface(WatchedInterface& watched);
  OpenedCapture Reopen(WatchedInterface& watched);
  std::string WindowTitle(Ipv4Address address);

  EngineState& state_;
  Platform platform_;
  MonitorObserver& observer_;
  const MonitorOptions options_;
  LocalSources localSources_;
  std::unique_ptr<HostResolverPool> resolvers_;
  std::unique_ptr<Worker> worker_;

  RunFlag workerRun_;
  std::thread workerThread_;
  RunFlag captureRun_;
  std::thread captureThread_;

  mutable std::mutex statusMutex_;
  PacketSource* source_ = nullptr;  // the running loop's source, for Interrupt
  CaptureStatus status_;
};

}  // namespace quorvel
