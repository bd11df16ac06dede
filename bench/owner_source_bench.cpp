// One owner pass over the kernel's socket tables and /proc with 10,000 open
// loopback sockets (5,000 TCP listeners and 5,000 UDP sockets) in this process.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/linux/proc_owner_source.h"

namespace quorvel {
namespace {

constexpr int kSocketsPerProtocol = 5000;

bool RaiseFileLimit(rlim_t needed) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  if (limit.rlim_cur >= needed) return true;
  limit.rlim_cur = needed;
  if (limit.rlim_max < needed) limit.rlim_max = needed;  // needs root
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

int OpenLoopbackSocket(int type) {
  const int fd = socket(AF_INET, type, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (type == SOCK_STREAM && listen(fd, 1) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

std::size_t OwnSockets(const std::vector<SocketOwner>& owners) {
  const int self = getpid();
  return static_cast<std::size_t>(
      std::count_if(owners.begin(), owners.end(), [&](const SocketOwner& o) { return o.pid == self; }));
}

void Report(benchmark::State& state, const std::vector<SocketOwner>& owners) {
  state.counters["owners"] = static_cast<double>(owners.size());
  state.counters["own"] = static_cast<double>(OwnSockets(owners));
}

// Every pass starts with empty caches, so it walks every /proc/*/fd.
void BM_ColdPass(benchmark::State& state) {
  SystemClock clock;
  std::vector<SocketOwner> owners;
  for (auto _ : state) {
    ProcOwnerSource source(clock);
    source.ReadOwners(owners);
    benchmark::DoNotOptimize(owners.data());
  }
  Report(state, owners);
}

// The steady state: nothing new, no walk.
void BM_WarmPass(benchmark::State& state) {
  SystemClock clock;
  ProcOwnerSource source(clock, ProcOwnerSourceOptions{"/proc", state.range(0) != 0, 5000});
  std::vector<SocketOwner> owners;
  source.ReadOwners(owners);
  for (auto _ : state) {
    source.ReadOwners(owners);
    benchmark::DoNotOptimize(owners.data());
  }
  Report(state, owners);
  state.SetLabel(state.range(0) != 0 ? "sock_diag" : "/proc/net");
}

// One new socket per pass, held by the process with the 10,000 descriptors:
// the walk has to reach them all.
void BM_NewSocketPass(benchmark::State& state) {
  SystemClock clock;
  ProcOwnerSource source(clock);
  std::vector<SocketOwner> owners;
  source.ReadOwners(owners);
  for (auto _ : state) {
    state.PauseTiming();
    const int fd = OpenLoopbackSocket(SOCK_DGRAM);
    state.ResumeTiming();
    source.ReadOwners(owners);
    state.PauseTiming();
    close(fd);
    state.ResumeTiming();
  }
  Report(state, owners);
}

BENCHMARK(BM_ColdPass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WarmPass)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NewSocketPass)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  using namespace quorvel;
  if (!RaiseFileLimit(2 * kSocketsPerProtocol + 1000)) {
    std::fprintf(stderr, "Cannot raise the open-file limit to %d\n", 2 * kSocketsPerProtocol + 1000);
    return 1;
  }
  std::vector<int> fds;
  for (int i = 0; i < kSocketsPerProtocol; ++i) {
    for (const int type : {SOCK_STREAM, SOCK_DGRAM}) {
      const int fd = OpenLoopbackSocket(type);
      if (fd < 0) {
        std::perror("loopback socket");
        return 1;
      }
      fds.push_back(fd);
    }
  }
  // The very first pass also pays for the kernel creating its /proc/PID/fd
  // entries; the benchmarks below run with those cached.
  SystemClock clock;
  ProcOwnerSource first(clock);
  std::vector<SocketOwner> owners;
  const auto start = std::chrono::steady_clock::now();
  first.ReadOwners(owners);
  const auto took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("first cold pass: %.1f ms, %zu owners, %zu of them this process's\n", took, owners.size(),
              OwnSockets(owners));

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const int fd : fds) close(fd);
  return 0;
}
