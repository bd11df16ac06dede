#include "platform/linux/bpf/bpf_socket_tracker.h"

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
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
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/linux/bpf/socket_owner_record.h"
#include "platform/linux/udp_releases.h"
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
    if (table_ != nullptr) munmap(const_cast<quorvel_socket_slot*>(table_), kTableBytes);
    socket_owners_bpf__destroy(skeleton_);
  }

  bool MapTable(std::string& error) {
    void* mapped = mmap(nullptr, kTableBytes, PROT_READ, MAP_SHARED, bpf_map__fd(skeleton_->maps.sockets), 0);
    if (mapped == MAP_FAILED) {
      error = std::string("cannot map the socket table: ") + std::strerror(errno);
      return false;
    }
    table_ = static_cast<const quorvel_socket_slot*>(mapped);
    return true;
  }

  bool OpenEvents(std::string& error) {
    ring_ = ring_buffer__new(bpf_map__fd(skeleton_->maps.owner_events), &OnEvent, this, nullptr);
    if (ring_ == nullptr) error = std::string("cannot read the owner events: ") + std::strerror(errno);
    return ring_ != nullptr;
  }

  // Without the notices (a kernel without socket diagnostics) a released
  // UDP socket names its port until another socket takes its slot.
  void FollowUdpReleases() { udpReleases_.Open(); }

  void StartReading() {
    running_ = true;
    reader_ = std::thread([this] {
      pollfd waiting[2] = {{ring_buffer__epoll_fd(ring_), POLLIN, 0}, {udpReleases_.Descriptor(), POLLIN, 0}};
      while (running_.load(std::memory_order_relaxed)) {
        if (poll(waiting, 2, kPollMilliseconds) <= 0) continue;
        if (waiting[0].revents != 0) ring_buffer__consume(ring_);
        if (waiting[1].revents != 0) udpReleases_.Read(MonotonicNanoseconds(), kClosedKeepNanoseconds);
      }
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
    const std::uint64_t now = MonotonicNanoseconds();
    std::lock_guard lock(indexMutex_);
    Reindex();
    // An open socket wins over released ones, the most specific address
    // first, the newest of one address; of released ones (their last packets
    // may still come) the one released last: a port given up and taken again
    // names its new owner.
    std::optional<quorvel_socket_slot> openByKey[3];
    std::optional<quorvel_socket_slot> released;
    for (std::int32_t index = firstSlot_[Bucket(udp, port)]; index >= 0; index = nextSlot_[index]) {
      auto slot = Slot(static_cast<std::size_t>(index));
      const auto matched = slot ? std::find_if(keys, keys + count,
                                               [&](const quorvel_owner_key& key) {
                                                 return std::memcmp(&slot->key, &key, sizeof key) == 0;
                                               })
                                : keys + count;
      if (matched == keys + count) continue;
      if (const auto releasedAt = udp ? udpReleases_.ReleasedAt(slot->socket) : std::nullopt;
          releasedAt && slot->state == QUORVEL_SLOT_NAMED) {
        slot->state = QUORVEL_SLOT_CLOSED;
        slot->closed_at = *releasedAt;
      }
      auto& newest = openByKey[matched - keys];
      if (slot->state == QUORVEL_SLOT_NAMED) {
        if (!newest || slot->socket > newest->socket) newest = slot;
      } else if (slot->state == QUORVEL_SLOT_CLOSED && now <= slot->closed_at + kClosedKeepNanoseconds &&
                 (!released || slot->closed_at > released->closed_at)) {
        released = slot;
      }
    }
    const auto firstOpen = std::find_if(openByKey, openByKey + count, [](const auto& slot) { return slot.has_value(); });
    const auto& best = firstOpen != openByKey + count ? *firstOpen : released;
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

  static std::size_t Bucket(bool udp, std::uint16_t port) { return (udp ? 65536u : 0u) + port; }

  // A copy of slot `index` taken while no write was under way; none while
  // writes keep tearing it.
  std::optional<quorvel_socket_slot> Slot(std::size_t index) const {
    static_assert(sizeof(quorvel_socket_slot) % sizeof(std::uint64_t) == 0);
    const auto* shared = reinterpret_cast<const std::uint64_t*>(table_ + index);
    const auto* sequence = &table_[index].sequence;
    for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
      const unsigned before = __atomic_load_n(sequence, __ATOMIC_ACQUIRE);
      if (before % 2 != 0) continue;
      // Acquire loads keep the second read of the sequence after them.
      std::uint64_t words[sizeof(quorvel_socket_slot) / sizeof(std::uint64_t)];
      for (std::size_t i = 0; i < std::size(words); ++i) words[i] = __atomic_load_n(shared + i, __ATOMIC_ACQUIRE);
      if (__atomic_load_n(sequence, __ATOMIC_RELAXED) != before) continue;
      quorvel_socket_slot copy;
      std::memcpy(&copy, words, sizeof copy);
      return copy;
    }
    return std::nullopt;
  }

  // Lists of the named slots by protocol and port, made again once a socket
  // was named since; a slot's later close needs no new list, a slot taken
  // over is told by its key.
  void Reindex() {
    const std::uint64_t changes = OwnerEvents();
    if (indexedAt_ == changes) return;
    for (const std::size_t bucket : usedBuckets_) firstSlot_[bucket] = -1;
    usedBuckets_.clear();
    for (std::size_t i = 0; i < QUORVEL_SOCKET_SLOTS; ++i) {
      const auto slot = Slot(i);
      if (!slot || (slot->state != QUORVEL_SLOT_NAMED && slot->state != QUORVEL_SLOT_CLOSED)) continue;
      const std::size_t bucket = Bucket(slot->key.protocol == kUdp, slot->key.port);
      if (firstSlot_[bucket] < 0) usedBuckets_.push_back(bucket);
      nextSlot_[i] = firstSlot_[bucket];
      firstSlot_[bucket] = static_cast<std::int32_t>(i);
    }
    indexedAt_ = changes;
  }

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

  static constexpr std::size_t kTableBytes = sizeof(quorvel_socket_slot) * QUORVEL_SOCKET_SLOTS;
  static constexpr int kCopyAttempts = 8;

  socket_owners_bpf* skeleton_;
  const quorvel_socket_slot* table_ = nullptr;
  std::mutex indexMutex_;
  std::vector<std::int32_t> firstSlot_ = std::vector<std::int32_t>(2 * 65536, -1);
  std::vector<std::int32_t> nextSlot_ = std::vector<std::int32_t>(QUORVEL_SOCKET_SLOTS, -1);
  std::vector<std::size_t> usedBuckets_;
  std::optional<std::uint64_t> indexedAt_;
  const unsigned int networkNamespace_ = OwnNetworkNamespace();
  ring_buffer* ring_ = nullptr;
  UdpReleases udpReleases_;
  std::thread reader_;
  std::atomic<bool> running_{false};
  const long ticksPerSecond_ = sysconf(_SC_CLK_TCK) > 0 ? sysconf(_SC_CLK_TCK) : 100;
  std::mutex mutex_;
  std::unordered_map<std::uint32_t, Process> processes_;
};

int Quiet(libbpf_print_level, const char*, va_list) { return 0; }

// Loads and attaches the hooks, those for UDP only when `udp`.
socket_owners_bpf* Load(bool udp, int& status) {
  socket_owners_bpf* skeleton = socket_owners_bpf__open();
  if (skeleton == nullptr) {
    status = -errno;
    return nullptr;
  }
  bpf_program__set_autoload(skeleton->progs.udp_sent, udp);
  bpf_program__set_autoload(skeleton->progs.udp_received, udp);
  // Sockets of other namespaces (containers, other tests) change nothing
  // this capture asks about.
  skeleton->rodata->watched_namespace = OwnNetworkNamespace();
  status = socket_owners_bpf__load(skeleton);
  if (status == 0) status = socket_owners_bpf__attach(skeleton);
  if (status == 0) return skeleton;
  socket_owners_bpf__destroy(skeleton);
  return nullptr;
}

// The UDP hooks are left out where the kernel lacks their tracepoints: UDP
// owners then come from the tables. Tried rather than looked up first, as
// each lookup reads the kernel's whole type information again.
socket_owners_bpf* Load(int& status) {
  socket_owners_bpf* skeleton = Load(true, status);
  return skeleton != nullptr ? skeleton : Load(false, status);
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
  if (!tracker->MapTable(error) || !tracker->OpenEvents(error)) return nullptr;
  tracker->FollowUdpReleases();
  if (!loaded()) {
    error = "quorvel-capture could not give up its rights";
    return nullptr;
  }
  tracker->StartReading();
  return tracker;
}

}  // namespace quorvel
