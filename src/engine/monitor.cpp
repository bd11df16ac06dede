#include "engine/monitor.h"

#include "engine/accounting.h"
#include "engine/capture_loop.h"

namespace quorvel {
namespace {

constexpr std::int64_t kStatsPeriodMilliseconds = 1000;

bool IsLoopback(Ipv4Address address) { return FirstOctet(address) == 127; }

}  // namespace

Monitor::Monitor(EngineState& state, const Platform& platform, MonitorObserver& observer,
                 MonitorOptions options)
    : state_(state), platform_(platform), observer_(observer), options_(std::move(options)),
      localSources_(platform.owners, platform.clock) {
  if (options_.runWorker) {
    resolvers_ = std::make_unique<HostResolverPool>(state_, platform_.names, platform_.clock,
                                                    options_.resolverThreads);
    worker_ = std::make_unique<Worker>(state_, localSources_, *resolvers_, platform_.names,
                                       platform_.clock, options_.saveDayLog);
    worker_->SetSaveProblemHandler([this](const std::string& message) { observer_.OnSaveProblem(message); });
  }
}

Monitor::~Monitor() { Stop(); }

std::optional<Ipv4Address> Monitor::ChooseInterfaceAddress() {
  const std::string host = platform_.names.HostName();
  if (!host.empty()) {
    const auto addresses = platform_.names.ResolveIpv4(host);
    if (!addresses.empty() && !IsLoopback(addresses.front())) return addresses.front();
  }
  if (const auto routed = platform_.interfaces.DefaultRouteAddress()) return routed;
  for (const InterfaceInfo& info : platform_.interfaces.List()) {
    if (!info.up || info.loopback) continue;
    if (const auto address = ParseIpv4(info.address); address && *address != 0) return address;
  }
  return std::nullopt;
}

void Monitor::Start() {
  localSources_.Start();
  if (worker_ && !workerThread_.joinable()) {
    resolvers_->Start();
    workerRun_.Set(true);
    workerThread_ = std::thread([this] { worker_->WorkerThread(workerRun_); });
  }
  if (state_.settings.interfaceAddress.load() == 0 && options_.chooseInterface) {
    const auto chosen = ChooseInterfaceAddress();
    if (!chosen) {
      observer_.OnCaptureProblem(
          "No IPv4 network interface was found. Choose one in Options when one is available.");
      return;
    }
    state_.settings.interfaceAddress = *chosen;
  }
  StartCapture();
}

void Monitor::StartCapture() {
  {
    std::lock_guard lock(statusMutex_);
    status_.problem.clear();
  }
  captureRun_.Set(true);
  const Ipv4Address address = state_.settings.interfaceAddress.load();
  captureThread_ = std::thread([this, address] { CaptureThread(address); });
}

void Monitor::StopCapture() {
  captureRun_.Set(false);
  {
    std::lock_guard lock(statusMutex_);
    if (source_) source_->Interrupt();
  }
  if (captureThread_.joinable()) captureThread_.join();
}

bool Monitor::ChangeInterface(Ipv4Address address) {
  if (address == state_.settings.interfaceAddress.load() && captureThread_.joinable()) return false;
  StopCapture();
  state_.settings.interfaceAddress = address;
  StartCapture();
  return true;
}

void Monitor::RestartCapture() {
  if (state_.settings.interfaceAddress.load() == 0) return Start();
  StopCapture();
  StartCapture();
}

void Monitor::Stop() {
  localSources_.Stop();
  StopCapture();
  workerRun_.Set(false);
  if (workerThread_.joinable()) workerThread_.join();
  if (resolvers_) resolvers_->Stop();
}

void Monitor::WaitForCaptureEnd() {
  if (captureThread_.joinable()) captureThread_.join();
}

CaptureStatus Monitor::Status() const {
  std::lock_guard lock(statusMutex_);
  return status_;
}

void Monitor::CaptureThread(Ipv4Address address) {
  observer_.OnWindowTitle("Quorvel - " + platform_.names.HostName() + "(" + Ipv4ToText(address) + ")");
  OpenedCapture opened = platform_.packets.Open(address);
  if (!opened.source) {
    {
      std::lock_guard lock(statusMutex_);
      status_ = CaptureStatus{};
      status_.problem = opened.error;
    }
    observer_.OnCaptureProblem(opened.error);
    return;
  }
  if (opened.promiscuousFailed) observer_.OnCaptureProblem("Can't set promiscuous mode");

  Accountant accountant(state_, localSources_, platform_.clock);
  CaptureLoop loop(accountant);
  {
    std::lock_guard lock(statusMutex_);
    source_ = opened.source.get();
    // Asking how owners are found starts the kernel events helper: the problem comes after.
    status_ = CaptureStatus{opened.source->Name(), address, 0, 0, 0, true, localSources_.AttributionName(), {},
                            localSources_.AttributionProblem()};
  }

  // IPv6 addresses come and go while it runs (temporary addresses above
  // all); a file replayed has no interface and keeps the addresses it was given.
  const std::string interfaceName = opened.source->Name();
  std::optional<std::vector<IpPrefix>> lastIpv6Addresses;  // none yet: the last interface's stand
  auto refreshIpv6Addresses = [&] {
    for (const InterfaceInfo& info : platform_.interfaces.List()) {
      if (info.name != interfaceName) continue;
      if (info.ipv6Addresses != lastIpv6Addresses) {
        lastIpv6Addresses = info.ipv6Addresses;
        state_.settings.interfaceIpv6Addresses.Set(info.ipv6Addresses);
      }
    }
  };
  refreshIpv6Addresses();
  // Statistics are read on this thread: the capture handle is not shared.
  auto publishStatus = [&] {
    const CaptureStats stats = opened.source->Stats();
    // Kernel events can fail while capture runs: the status follows.
    std::string attribution = localSources_.AttributionName();
    std::string attributionProblem = localSources_.AttributionProblem();
    std::lock_guard lock(statusMutex_);
    status_.attribution = std::move(attribution);
    status_.attributionProblem = std::move(attributionProblem);
    status_.packetsSeen = loop.PacketsSeen();
    status_.kernelDropped = stats.dropped;
    status_.helperDropped = stats.helperDropped;
  };
  std::int64_t nextStats = platform_.clock.SteadyMilliseconds();
  std::string error;
  bool failed = false;
  while (captureRun_.IsSet()) {
    const PacketSource::Next next = opened.source->Dispatch(loop, error);
    if (next == PacketSource::Next::kEnd) break;
    if (next == PacketSource::Next::kError) {
      failed = true;
      break;
    }
    if (platform_.clock.SteadyMilliseconds() >= nextStats) {
      publishStatus();
      refreshIpv6Addresses();
      nextStats = platform_.clock.SteadyMilliseconds() + kStatsPeriodMilliseconds;
    }
  }
  publishStatus();
  {
    std::lock_guard lock(statusMutex_);
    source_ = nullptr;
    status_.running = false;
    if (failed) status_.problem = error;
  }
  // Told once the status is final, so the observer reads the stopped state.
  if (failed) observer_.OnCaptureStopped("Capture on " + opened.source->Name() + " stopped: " + error);
}

}  // namespace quorvel
