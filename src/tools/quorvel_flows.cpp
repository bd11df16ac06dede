// quorvel-flows: the monitor's engine without a window, for servers, tests
// and benchmarks. Prints one tab-separated line per flow; can also keep a
// CSV file, send IPFIX flow records and serve Prometheus counters. Live
// capture goes through quorvel-capture beside it; a file is read here, with
// no rights.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_state.h"
#include "engine/monitor.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/pcap_capture.h"
#include "tools/export/flow_exports.h"

namespace quorvel {
namespace {

constexpr int kUsageError = 2;
constexpr const char* kUsage =
    "usage: quorvel-flows (--pcap FILE --address ADDRESS... | --live [--interface NAME | --address ADDRESS]) "
    "[--mask M.M.M.M] [--prefix N] [--no-lan] [--names] [--seconds N] [--no-kernel-events] [--csv FILE] "
    "[--ipfix HOST:PORT [--ipfix-active SECONDS]] [--prometheus [ADDRESS:]PORT]\n"
    "  --address takes an IPv4 or IPv6 address and may be repeated: with --pcap the addresses\n"
    "  are the interface's (at most one IPv4); with --live the one given picks the interface.\n"
    "  --prefix sets the IPv6 prefix length of --pcap addresses for --no-lan (default 64).";

constexpr int kDefaultIpv6Prefix = 64;

struct Options {
  std::string pcapFile;
  bool live = false;
  std::string interfaceName;
  std::optional<Ipv4Address> address;
  std::vector<IpAddress> ipv6Addresses;
  std::optional<Ipv4Address> mask;
  int prefix = kDefaultIpv6Prefix;
  bool hideLan = false;
  bool names = false;  // a seventh column: the name traffic gave the flow
  int seconds = 0;  // 0: until interrupted (live) or the end of the file
  bool kernelEvents = true;  // owners from kernel events where possible
  FlowExportOptions exports;
};

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "quorvel-flows: %s\n", message.c_str());
  std::exit(kUsageError);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  auto value = [&](int& i) -> std::string {
    if (i + 1 >= argc) Fail(std::string(argv[i]) + " needs a value");
    return argv[++i];
  };
  auto address = [&](int& i) {
    const std::string flag = argv[i];
    const std::string text = value(i);
    const auto parsed = ParseIpv4(text);
    if (!parsed) Fail(flag + ": not a dotted IPv4 address: " + text);
    return *parsed;
  };
  auto number = [&](int& i, long low, long high) {
    const std::string flag = argv[i];
    const std::string text = value(i);
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < low || parsed > high) {
      Fail(flag + ": not a number from " + std::to_string(low) + " to " + std::to_string(high) + ": " + text);
    }
    return static_cast<int>(parsed);
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--pcap") {
      options.pcapFile = value(i);
    } else if (arg == "--live") {
      options.live = true;
    } else if (arg == "--address") {
      const std::string text = value(i);
      const auto parsed = ParseIp(text);
      if (!parsed) Fail("--address: not an IPv4 or IPv6 address: " + text);
      if (parsed->IsIpv6()) {
        options.ipv6Addresses.push_back(*parsed);
      } else if (options.address) {
        Fail("--address: the interface has one IPv4 address; " + text + " is a second one");
      } else {
        options.address = parsed->Ipv4();
      }
    } else if (arg == "--interface") {
      options.interfaceName = value(i);
    } else if (arg == "--prefix") {
      options.prefix = number(i, 0, 128);
    } else if (arg == "--mask") {
      options.mask = address(i);
    } else if (arg == "--no-kernel-events") {
      options.kernelEvents = false;
    } else if (arg == "--no-lan") {
      options.hideLan = true;
    } else if (arg == "--names") {
      options.names = true;
    } else if (arg == "--seconds") {
      options.seconds = number(i, 1, 1'000'000);
    } else if (arg == "--csv") {
      options.exports.csvFile = value(i);
    } else if (arg == "--ipfix") {
      options.exports.ipfixCollector = value(i);
    } else if (arg == "--ipfix-active") {
      options.exports.ipfixActiveSeconds = number(i, 1, 1'000'000);
    } else if (arg == "--prometheus") {
      options.exports.prometheus = value(i);
    } else {
      Fail("unknown argument: " + arg + "\n" + kUsage);
    }
  }
  if (options.live == !options.pcapFile.empty()) Fail(kUsage);
  const bool anyAddress = options.address || !options.ipv6Addresses.empty();
  if (!options.live && !anyAddress) Fail("--pcap needs --address");
  if (!options.live && !options.interfaceName.empty()) Fail("--interface goes with --live");
  if (options.live && !options.interfaceName.empty() && anyAddress) Fail("--live takes --interface or --address");
  if (options.live && options.address && !options.ipv6Addresses.empty()) Fail("--live takes one --address");
  if (options.live && options.ipv6Addresses.size() > 1) Fail("--live takes one --address");
  return options;
}

// Prints problems on stderr; a capture that cannot run ends the program.
class PrintingObserver final : public MonitorObserver {
 public:
  void OnWindowTitle(const std::string&) override {}
  void OnCaptureProblem(const std::string& message) override {
    std::fprintf(stderr, "quorvel-flows: %s\n", message.c_str());
    failed = true;
  }
  std::atomic<bool> failed{false};
};

// A replayed file has no local processes to name.
class NoOwners final : public OwnerSource {
 public:
  bool ReadOwners(std::vector<SocketOwner>&) override { return false; }
};

void PrintFlows(EngineState& state, bool names) {
  std::vector<std::pair<FlowKey, TrafficFlow>> flows;
  {
    std::lock_guard lock(state.statMutex);
    flows.assign(state.stats.flows.begin(), state.stats.flows.end());
  }
  std::sort(flows.begin(), flows.end(),
            [](const auto& a, const auto& b) { return FlowKeyLess(a.first, b.first); });
  std::printf("# local source\tlocal port\tremote address\tremote port\tDL bytes\tUL bytes%s\n",
              names ? "\tname from traffic" : "");
  for (const auto& [key, flow] : flows) {
    std::printf("%s\t%u\t%s\t%u\t%llu\t%llu", key.localSource.c_str(), key.localPort,
                IpToText(key.remoteAddress).c_str(), key.remotePort,
                static_cast<unsigned long long>(flow.download),
                static_cast<unsigned long long>(flow.upload));
    // The flow's own TLS, QUIC or HTTP name, else its address's DNS name at its first packet.
    if (names) std::printf("\t%s", flow.observedName ? flow.observedName->c_str() : "");
    std::printf("\n");
  }
  std::fflush(stdout);
}

// The IPv4 address of the interface that is named, or that holds the IPv6
// address given; live capture opens the interface by its IPv4 address.
std::optional<Ipv4Address> LiveInterfaceAddress(InterfaceLister& interfaces, const Options& options) {
  for (const InterfaceInfo& info : interfaces.List()) {
    bool wanted = info.name == options.interfaceName;
    for (const IpPrefix& own : info.ipv6Addresses) {
      if (!options.ipv6Addresses.empty() && own.address == options.ipv6Addresses.front()) wanted = true;
    }
    if (wanted) return ParseIpv4(info.address);
  }
  Fail(options.interfaceName.empty() ? "no interface holds " + IpToText(options.ipv6Addresses.front())
                                     : "no interface " + options.interfaceName + " with an IPv4 address");
}

// Without a worker nobody takes the events; drop them so a long run stays small.
void DiscardEvents(EngineState& state) {
  std::deque<PacketEvent> events;
  std::deque<ProxyEvent> proxyEvents;
  {
    std::lock_guard lock(state.queueMutex);
    events.swap(state.events);
  }
  std::lock_guard lock(state.queueProxyMutex);
  proxyEvents.swap(state.proxyEvents);
}

std::atomic<bool> interrupted{false};

std::int64_t WallMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

CaptureCounts Counts(const CaptureStatus& status) { return {status.packetsSeen, status.kernelDropped}; }

// Said once each time the interface goes down and capture resumes.
std::string CaptureStateLine(const CaptureStatus& status) {
  if (status.interfaceDown) return "interface " + status.interfaceName + " is down: capture resumes when it is back";
  if (status.running) return "capturing on " + status.interfaceName + " (" + Ipv4ToText(status.address) + ")";
  return {};
}

void OnSignal(int) { interrupted = true; }

int Run(const Options& options) {
  LinuxPlatform system(LinuxPlatformOptions{.kernelEvents = options.live && options.kernelEvents});
  NoOwners noOwners;
  // A replay's flows carry the times of the file's packets.
  ReplayClock replayClock;
  OfflinePacketSourceFactory offline(options.pcapFile, &replayClock);
  Platform platform = system.Bundle();
  const Platform bundle = options.live ? platform
                                       : Platform{offline, noOwners, platform.names,
                                                  platform.interfaces, replayClock};
  EngineState state;
  if (options.address) state.settings.interfaceAddress = *options.address;
  if (options.live && (!options.interfaceName.empty() || !options.ipv6Addresses.empty())) {
    const auto address = LiveInterfaceAddress(platform.interfaces, options);
    if (!address || *address == 0) Fail("the interface has no IPv4 address to open it by");
    state.settings.interfaceAddress = *address;
  }
  if (!options.live) {
    std::vector<IpPrefix> ipv6;
    for (const IpAddress& address : options.ipv6Addresses) ipv6.push_back(IpPrefix{address, options.prefix});
    state.settings.interfaceIpv6Addresses.Set(std::move(ipv6));
  }
  if (options.mask) state.settings.networkMask = *options.mask;
  state.settings.hideLanFlows = options.hideLan;
  // Without --names the capture helper need not send any payload.
  state.settings.nameHostsFromTraffic = options.names;

  FlowExports exports;
  if (const Status started = exports.Start(options.exports, WallMilliseconds()); !started) Fail(started.error);

  PrintingObserver observer;
  // The table is printed from the flows themselves: no rows, no host names.
  MonitorOptions monitorOptions;
  monitorOptions.runWorker = false;
  monitorOptions.chooseInterface = options.live;
  Monitor monitor(state, bundle, observer, monitorOptions);
  monitor.Start();
  if (options.live) {
    // Asking how owners are found starts the kernel events helper: the problem comes after.
    const std::string attribution = monitor.localSources().AttributionName();
    const std::string problem = system.KernelEventsProblem();
    std::fprintf(stderr, "quorvel-flows: owners from %s%s%s\n", attribution.c_str(), problem.empty() ? "" : ": ",
                 problem.c_str());
  }

  if (!options.live) {
    monitor.WaitForCaptureEnd();
    monitor.Stop();
    if (observer.failed) return kUsageError;
    // The counters stay up for scrapers until the end is asked for.
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    exports.Finish(state, Counts(monitor.Status()), WallMilliseconds());
    PrintFlows(state, options.names);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
    while (exports.ServesPrometheus() && !interrupted &&
           (options.seconds == 0 || std::chrono::steady_clock::now() < until)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
  }

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  const auto started = std::chrono::steady_clock::now();
  auto nextPrint = started + std::chrono::seconds(1);
  std::string stateLine;
  while (!interrupted) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    DiscardEvents(state);
    const auto now = std::chrono::steady_clock::now();
    const CaptureStatus status = monitor.Status();
    if (const std::string line = CaptureStateLine(status); !line.empty() && line != stateLine) {
      stateLine = line;
      std::fprintf(stderr, "quorvel-flows: %s\n", line.c_str());
    }
    if (!status.running && !status.interfaceDown && observer.failed) break;
    if (now >= nextPrint) {
      exports.Tick(state, Counts(status), WallMilliseconds());
      PrintFlows(state, options.names);
      nextPrint += std::chrono::seconds(1);
    }
    if (options.seconds > 0 && now - started >= std::chrono::seconds(options.seconds)) break;
  }
  monitor.Stop();
  const CaptureStatus status = monitor.Status();
  exports.Finish(state, Counts(status), WallMilliseconds());
  PrintFlows(state, options.names);
  std::fprintf(stderr, "quorvel-flows: %llu packets seen on %s, %llu dropped by the kernel, %llu by Quorvel\n",
               static_cast<unsigned long long>(status.packetsSeen), status.interfaceName.c_str(),
               static_cast<unsigned long long>(status.kernelDropped),
               static_cast<unsigned long long>(status.helperDropped));
  return observer.failed && status.packetsSeen == 0 ? kUsageError : 0;
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) { return quorvel::Run(quorvel::ParseOptions(argc, argv)); }
