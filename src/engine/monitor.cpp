#include "engine/monitor.h"

#include <algorithm>

#include "engine/accounting.h"
#include "engine/capture_loop.h"

namespace quorvel {
namespace {

constexpr std::int64_t kStatsPeriodMilliseconds = 1000;
constexpr std::int64_t kReopenPeriodMilliseconds = 1000;
constexpr std::int64_t kInterfaceWatchMilliseconds = 250;

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

// The captured interface as the system lists it.
struct Monitor::WatchedInterface {
  std::string name;
  bool listed = false;  // seen in the list: a live interface, not a replayed file
  std::optional<Ipv4Address> firstAddress;  // its first IPv4 address when last seen
  std::optional<std::vector<IpPrefix>> ipv6Addresses;  // none yet: the last interface's stand
};

std::string Monitor::WindowTitle(Ipv4Address address) {
  return "Quorvel - " + platform_.names.HostName() + "(" + Ipv4ToText(address) + ")";
}

void Monitor::CaptureThread(Ipv4Address address) {
  observer_.OnWindowTitle(WindowTitle(address));
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
  WatchedInterface watched;
  watched.name = opened.source->Name();
  while (opened.source) {
    const auto failure = RunCapture(*opened.source, loop, watched);
    if (!failure) return;
    // Told once the status is final, so the observer reads the stopped state.
    observer_.OnCaptureStopped("Capture on " + watched.name + " stopped: " + *failure);
    if (!Status().interfaceDown) return;
    opened = Reopen(watched);
  }
}

std::optional<std::string> Monitor::RunCapture(PacketSource& source, CaptureLoop& loop, WatchedInterface& watched) {
  {
    std::lock_guard lock(statusMutex_);
    source_ = &source;
    // Asking how owners are found starts the kernel events helper: the problem comes after.
    status_ = CaptureStatus{source.Name(), state_.settings.interfaceAddress.load(), loop.PacketsSeen(), 0, 0, true,
                            localSources_.AttributionName(), {}, localSources_.AttributionProblem(), false};
  }
  auto followInterface = [&] {
    const bool up = FollowInterface(watched).has_value();
    std::lock_guard lock(statusMutex_);
    status_.interfaceDown = watched.listed && !up;
  };
  followInterface();
  // Statistics are read on this thread: the capture handle is not shared.
  auto publishStatus = [&] {
    const CaptureStats stats = source.Stats();
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
    const PacketSource::Next next = source.Dispatch(loop, error);
    if (next == PacketSource::Next::kEnd) break;
    if (next == PacketSource::Next::kError) {
      failed = true;
      break;
    }
    // Timed from before the reads, so that no change made meanwhile waits a period more.
    if (const std::int64_t now = platform_.clock.SteadyMilliseconds(); now >= nextStats) {
      publishStatus();
      followInterface();
      nextStats = now + kStatsPeriodMilliseconds;
    }
  }
  publishStatus();
  // Whether the interface went away decides whether it is opened again.
  if (failed) followInterface();
  std::lock_guard lock(statusMutex_);
  source_ = nullptr;
  status_.running = false;
  if (!failed) return std::nullopt;
  status_.problem = error;
  return error;
}

// IPv6 addresses come and go while it runs (temporary addresses above all),
// a new lease changes its IPv4 address: directions and the title follow. A
// file replayed has no interface and keeps the addresses it was given.
// Returns the interface's IPv4 address while it is up.
std::optional<Ipv4Address> Monitor::FollowInterface(WatchedInterface& watched) {
  const std::vector<InterfaceInfo> interfaces = platform_.interfaces.List();
  const auto info = std::find_if(interfaces.begin(), interfaces.end(),
                                 [&](const InterfaceInfo& each) { return each.name == watched.name; });
  if (info == interfaces.end()) return std::nullopt;
  watched.listed = true;
  if (info->ipv6Addresses != watched.ipv6Addresses) {
    watched.ipv6Addresses = info->ipv6Addresses;
    state_.settings.interfaceIpv6Addresses.Set(info->ipv6Addresses);
  }
  const std::optional<Ipv4Address> address = ParseIpv4(info->address);
  // Only a change is followed: a second address chosen on purpose stays.
  if (watched.firstAddress && address != watched.firstAddress && address.value_or(0) != 0) {
    state_.settings.interfaceAddress = *address;
    {
      std::lock_guard lock(statusMutex_);
      status_.address = *address;
    }
    observer_.OnWindowTitle(WindowTitle(*address));
  }
  watched.firstAddress = address;
  if (!info->up) return std::nullopt;
  return state_.settings.interfaceAddress.load();
}

// Watches for the interface to be up, and opens it then; a second at least
// between tries, since each starts a capture helper. No source once capture
// is stopped.
OpenedCapture Monitor::Reopen(WatchedInterface& watched) {
  std::int64_t nextTry = platform_.clock.SteadyMilliseconds();
  for (;;) {
    platform_.clock.Sleep(kInterfaceWatchMilliseconds, &captureRun_);
    if (!captureRun_.IsSet()) return {};
    const std::optional<Ipv4Address> address = FollowInterface(watched);
    if (!address || platform_.clock.SteadyMilliseconds() < nextTry) continue;
    nextTry = platform_.clock.SteadyMilliseconds() + kReopenPeriodMilliseconds;
    OpenedCapture opened = platform_.packets.Open(*address);
    if (opened.source) return opened;
    std::lock_guard lock(statusMutex_);
    status_.problem = opened.error;
  }
}

}  // namespace quorvel
