#include "platform/linux/bpf/bpf_socket_tracker.h"

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "platform/linux/bpf/socket_owner_record.h"
#include "socket_owners.skel.h"

namespace quorvel {
namespace {

constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;
// A released socket still names the packets the capture has yet to account
// for; after this long its port is left to the connection table.
constexpr std::uint64_t kClosedKeepNanoseconds = 5'000'000'000ULL;
constexpr int kPollMilliseconds = 100;
constexpr std::size_t kMaxRememberedProcesses = 4096;
constexpr std::string_view kDeletedSuffix = " (deleted)";

std::uint64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ULL + static_cast<std::uint64_t>(now.tv_nsec);
}

// Start time of a process in clock ticks since boot, from /proc/PID/stat.
std::optional<std::uint64_t> StartTicks(int pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return std::nullopt;
  std::array<char, 1024> buffer;
  const ssize_t length = read(file, buffer.data(), buffer.size());
  close(file);
  if (length <= 0) return std::nullopt;
  std::string_view text(buffer.data(), static_cast<std::size_t>(length));
  // The command may hold blanks and parentheses: fields count from the last ')'.
  const auto close = text.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  text.remove_prefix(close + 1);
  constexpr int kStartTimeField = 22 - 3;  // fields after the command start at 3
  for (int field = 0; field <= kStartTimeField; ++field) {
    const auto start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    text.remove_prefix(start);
    const auto end = text.find(' ');
    if (field == kStartTimeField) {
      std::uint64_t ticks = 0;
      const auto [stop, error] = std::from_chars(text.data(), text.data() + std::min(end, text.size()), ticks);
      if (error != std::errc()) return std::nullopt;
      return ticks;
    }
    if (end == std::string_view::npos) return std::nullopt;
    text.remove_prefix(end);
  }
  return std::nullopt;
}

// The inode number of this process's network namespace: the capture's.
unsigned int OwnNetworkNamespace() {
  struct stat info{};
  return stat("/proc/self/ns/net", &info) == 0 ? static_cast<unsigned int>(info.st_ino) : 0;
}

class BpfSocketTracker final : public SocketOwnerTracker {
 public:
  explicit BpfSocketTracker(socket_owners_bpf* skeleton) : skeleton_(skeleton) {}

  ~BpfSocketTracker() override {
    running_ = false;
    if (reader_.joinable()) reader_.join();
    ring_buffer__free(ring_);
    socket_owners_bpf__destroy(skeleton_);
  }

  bool OpenEvents(std::string& error) {
    ring_ = ring_buffer__new(bpf_map__fd(skeleton_->maps.owner_events), &OnEvent, this, nullptr);
    if (ring_ == nullptr) error = std::string("cannot read the owner events: ") + std::strerror(errno);
    return ring_ != nullptr;
  }

  void StartReading() {
    running_ = true;
    reader_ = std::thread([this] {
      while (running_.load(std::memory_order_relaxed)) ring_buffer__poll(ring_, kPollMilliseconds);
    });
  }

  bool FindOwner(bool udp, std::uint16_t port, Ipv4Address localAddress, SocketOwner& owner) override {
    quorvel_owner_key keys[3] = {};
    int count = 0;
    const auto add = [&](std::uint8_t family, Ipv4Address address) {
      quorvel_owner_key& key = keys[count++];
      std::memcpy(key.address, &address, sizeof address);
      key.port = port;
      key.protocol = udp ? kUdp : kTcp;
      key.family = family;
      key.network_namespace = networkNamespace_;
    };
    if (localAddress != 0) add(4, localAddress);
    add(4, 0);
    add(6, 0);  // a dual-stack socket bound to any IPv6 address
    const int map = bpf_map__fd(skeleton_->maps.owners);
    const std::uint64_t now = MonotonicNanoseconds();
    // An open socket wins over released ones, the most specific address
    // first; of released ones (their last packets may still come) the one
    // released last: a port given up and taken again names its new owner.
    std::optional<quorvel_owner> best;
    for (int i = 0; i < count; ++i) {
      quorvel_owner value{};
      if (bpf_map_lookup_elem(map, &keys[i], &value) != 0) continue;
      if (value.closed_at != 0 && now - value.closed_at > kClosedKeepNanoseconds) continue;
      if (value.closed_at == 0) {
        best = value;
        break;
      }
      if (!best || value.closed_at > best->closed_at) best = value;
    }
    if (!best) return false;
    owner.port = port;
    owner.udp = udp;
    owner.pid = static_cast<int>(best->pid);
    const Process process = ProcessOf(best->pid, best->start_time);
    owner.processFound = !process.name.empty();
    owner.name = process.name;
    owner.path = process.path;
    return true;
  }

  std::uint64_t OwnerEvents() const override {
    return __atomic_load_n(&skeleton_->bss->owner_changes, __ATOMIC_ACQUIRE);
  }
  int OwnerEventsDescriptor() const override {
    static_assert(offsetof(socket_owners_bpf::socket_owners_bpf__bss, owner_changes) == 0);
    return bpf_map__fd(skeleton_->maps.bss);
  }

 private:
  struct Process {
    std::uint64_t startTime = 0;
    std::string name;
    std::string path;
  };

  static int OnEvent(void* context, void* data, std::size_t size) {
    if (size < sizeof(quorvel_process)) return 0;
    quorvel_process process;
    std::memcpy(&process, data, sizeof process);
    // The path is read now, while the process most likely still lives.
    static_cast<BpfSocketTracker*>(context)->Remember(process);
    return 0;
  }

  Process Remember(const quorvel_process& announced) {
    Process process{announced.start_time, std::string(announced.name, strnlen(announced.name, sizeof announced.name)),
                    PathOf(static_cast<int>(announced.pid), announced.start_time)};
    std::lock_guard lock(mutex_);
    if (processes_.size() >= kMaxRememberedProcesses) processes_.clear();
    processes_[announced.pid] = process;
    return process;
  }

  // The process that started at `startTime`, from its announcement; the
  // kernel's own record when that was missed. No name when neither knows it.
  Process ProcessOf(std::uint32_t pid, std::uint64_t startTime) {
    {
      std::lock_guard lock(mutex_);
      const auto known = processes_.find(pid);
      if (known != processes_.end() && known->second.startTime == startTime) return known->second;
    }
    quorvel_process announced{};
    if (bpf_map_lookup_elem(bpf_map__fd(skeleton_->maps.announced), &pid, &announced) != 0 ||
        announced.start_time != startTime) {
      return Process{startTime, "", ""};
    }
    return Remember(announced);
  }

  // The executable's full path of the process that started at `startTime`;
  // empty once that process is gone (its pid may name another by now).
  std::string PathOf(int pid, std::uint64_t startTime) const {
    const auto ticks = StartTicks(pid);
    const std::uint64_t nanosecondsPerTick = 1'000'000'000ULL / static_cast<std::uint64_t>(ticksPerSecond_);
    if (!ticks || *ticks != startTime / nanosecondsPerTick) return "";
    std::array<char, PATH_MAX> link;
    const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t length = readlink(exe.c_str(), link.data(), link.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) return "";
    std::string_view target(link.data(), static_cast<std::size_t>(length));
    if (target.ends_with(kDeletedSuffix)) target.remove_suffix(kDeletedSuffix.size());
    return std::string(target);
  }

  socket_owners_bpf* skeleton_;
  const unsigned int networkNamespace_ = OwnNetworkNamespace();
  ring_buffer* ring_ = nullptr;
  std::thread reader_;
  std::atomic<bool> running_{false};
  const long ticksPerSecond_ = sysconf(_SC_CLK_TCK) > 0 ? sysconf(_SC_CLK_TCK) : 100;
  std::mutex mutex_;
  std::unordered_map<std::uint32_t, Process> processes_;
};

int Quiet(libbpf_print_level, const char*, va_list) { return 0; }

// Where the cgroup hierarchy's root is mounted; empty when it is not.
std::string UnifiedCgroupMount() {
  std::ifstream file("/proc/self/mountinfo");
  std::string line;
  while (std::getline(file, line)) {
    const auto separator = line.find(" - ");
    if (separator == std::string::npos || line.compare(separator + 3, 8, "cgroup2 ") != 0) continue;
    std::istringstream fields(line.substr(0, separator));
    std::string id, parent, device, root, mountPoint;
    if (fields >> id >> parent >> device >> root >> mountPoint && root == "/") return mountPoint;
  }
  return "";
}

// The root cgroup, whose socket hooks see every process's sockets. Where
// it is not mounted (`ip netns exec` mounts a fresh /sys without it), it is
// mounted in a mount namespace of this process's own, which nobody else
// sees; that needs CAP_SYS_ADMIN. -1 when it cannot be had.
int OpenRootCgroup() {
  const std::string mounted = UnifiedCgroupMount();
  if (!mounted.empty()) return open(mounted.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  constexpr const char* kMountPoint = "/sys/fs/cgroup";
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("cgroup2", kMountPoint, "cgroup2", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
    return -1;
  }
  const int cgroup = open(kMountPoint, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  umount2(kMountPoint, MNT_DETACH);  // the open directory keeps the cgroup
  return cgroup;
}

bool KernelHasTracepoint(const char* name) { return libbpf_find_vmlinux_btf_id(name, BPF_TRACE_RAW_TP) > 0; }

// Loads and attaches the hooks. Those for UDP are left out where the kernel
// lacks them: UDP owners then come from the tables, or keep their ports
// until evicted.
socket_owners_bpf* Load(int& status) {
  socket_owners_bpf* skeleton = socket_owners_bpf__open();
  if (skeleton == nullptr) {
    status = -errno;
    return nullptr;
  }
  const bool udpTracepoints = KernelHasTracepoint("sock_send_length") && KernelHasTracepoint("sock_recv_length");
  bpf_program__set_autoload(skeleton->progs.udp_sent, udpTracepoints);
  bpf_program__set_autoload(skeleton->progs.udp_received, udpTracepoints);
  const int cgroup = udpTracepoints ? OpenRootCgroup() : -1;
  bpf_program__set_autoload(skeleton->progs.udp_release, cgroup >= 0);
  // Sockets of other namespaces (containers, other tests) change nothing
  // this capture asks about.
  skeleton->rodata->counted_namespace = OwnNetworkNamespace();
  status = socket_owners_bpf__load(skeleton);
  if (status == 0 && cgroup >= 0) {
    skeleton->links.udp_release = bpf_program__attach_cgroup(skeleton->progs.udp_release, cgroup);
  }
  if (cgroup >= 0) close(cgroup);
  if (status == 0) status = socket_owners_bpf__attach(skeleton);
  if (status == 0) return skeleton;
  socket_owners_bpf__destroy(skeleton);
  return nullptr;
}

}  // namespace

std::unique_ptr<SocketOwnerTracker> StartBpfSocketTracker(std::string& error, const std::function<bool()>& loaded) {
  libbpf_set_print(&Quiet);
  int status = 0;
  socket_owners_bpf* skeleton = Load(status);
  if (skeleton == nullptr) {
    struct stat btf{};
    error = stat("/sys/kernel/btf/vmlinux", &btf) != 0
                ? "kernel without BTF"
                : std::string("BPF refused: ") + std::strerror(status < 0 ? -status : status);
    return nullptr;
  }
  auto tracker = std::make_unique<BpfSocketTracker>(skeleton);
  if (!tracker->OpenEvents(error)) return nullptr;
  if (!loaded()) {
    error = "quorvel-capture could not give up its rights";
    return nullptr;
  }
  tracker->StartReading();
  return tracker;
}

}  // namespace quorvel
