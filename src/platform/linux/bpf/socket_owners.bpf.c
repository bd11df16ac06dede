// Learns which process gives each TCP and UDP socket its local port, in that
// process's context, as it happens, IPv4 and IPv6. The hooks are chosen for
// what they cost where nothing is learned: no system call hook (it would
// slow every call of every process), no per-socket allocation, no hook on
// every socket's release, and raw tracepoints rather than kprobes or fentry,
// which many kernels with BTF refuse.
// - TCP: the state tracepoint. Connect enters SYN_SENT in the caller's
//   context before the port is chosen, so the owner waits in the socket's
//   slot until the next transition; listen enters LISTEN with its port
//   bound. CLOSE marks the slot.
// - UDP: the first send or receive that succeeds on a socket (its port is
//   bound by then). Its release is learned by the reader from the socket
//   diagnostics' destroy notices, which cost nothing for TCP sockets.
// Socket fields are read through BTF-typed pointers: plain loads, no
// helper calls.
#include "vmlinux.h"

#include <bpf/bpf_endian.h>
#include <bpf/bpf_core_read.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_tracing.h>

#include "socket_owner_record.h"

#define AF_INET 2
#define AF_INET6 10
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17
#define TCP_SYN_SENT 2
#define TCP_CLOSE 7
#define TCP_LISTEN 10

char LICENSE[] SEC("license") = "GPL";

// The sockets this program names, each in the slot its cookie (the one
// identity the tracepoints and the destroy notices all see) picks, mapped by
// the reader: recording a socket takes no lock, no allocation and one
// memory line, and reading it no system call. Cookies are handed out in
// runs on each CPU, so sockets made one after another fill neighbouring
// slots. A socket whose slot a later one took is left to the socket tables.
struct {
  __uint(type, BPF_MAP_TYPE_ARRAY);
  __uint(map_flags, BPF_F_MMAPABLE);
  __uint(max_entries, QUORVEL_SOCKET_SLOTS);
  __type(key, __u32);
  __type(value, struct quorvel_socket_slot);
} sockets SEC(".maps");

struct {
  __uint(type, BPF_MAP_TYPE_RINGBUF);
  __uint(max_entries, 256 * 1024);
} owner_events SEC(".maps");

// Processes already announced on the ring buffer, by pid; also read by the
// helper when it missed an announcement.
struct {
  __uint(type, BPF_MAP_TYPE_LRU_HASH);
  __uint(max_entries, QUORVEL_PROCESS_ENTRIES);
  __uint(map_flags, BPF_F_NO_COMMON_LRU);
  __type(key, __u32);
  __type(value, struct quorvel_process);
} announced SEC(".maps");

// The process this CPU announced last: a program opening many sockets in a
// row skips the lookup in `announced`.
struct announced_process {
  __u64 start_time;
  __u32 pid;
};

struct {
  __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
  __uint(max_entries, 1);
  __type(key, __u32);
  __type(value, struct announced_process);
} last_announced SEC(".maps");

// Only sockets of the capture's network namespace are recorded (of every
// namespace while it is 0): the capture asks about no others. Set before
// loading.
const volatile __u32 watched_namespace = 0;
// Counts sockets named; read through the mapped data section, so that a
// reader learns of a change without a system call.
__u64 owner_changes = 0;

static __always_inline int watched(const struct sock *sk) {
  return !watched_namespace || sk->__sk_common.skc_net.net->ns.inum == watched_namespace;
}

static __always_inline int make_key(const struct sock *sk, struct quorvel_owner_key *key) {
  __builtin_memset(key, 0, sizeof *key);
  const __u16 family = sk->__sk_common.skc_family;
  const __u16 port = sk->__sk_common.skc_num;
  const __u16 protocol = sk->sk_protocol;
  if (port == 0 || (protocol != IPPROTO_TCP && protocol != IPPROTO_UDP)) return 0;
  // Only sockets of the watched namespace get this far.
  key->network_namespace = watched_namespace ? watched_namespace : sk->__sk_common.skc_net.net->ns.inum;
  if (family == AF_INET) {
    const __u32 address = sk->__sk_common.skc_rcv_saddr;
    __builtin_memcpy(key->address, &address, 4);
    key->family = 4;
  } else if (family == AF_INET6) {
    const __u32 *words = sk->__sk_common.skc_v6_rcv_saddr.in6_u.u6_addr32;
    const __u32 w0 = words[0], w1 = words[1], w2 = words[2], w3 = words[3];
    if (w0 == 0 && w1 == 0 && w2 == bpf_htonl(0xffff)) {
      // An IPv4-mapped address carries IPv4 traffic.
      __builtin_memcpy(key->address, &w3, 4);
      key->family = 4;
    } else {
      __builtin_memcpy(key->address, &w0, 4);
      __builtin_memcpy(key->address + 4, &w1, 4);
      __builtin_memcpy(key->address + 8, &w2, 4);
      __builtin_memcpy(key->address + 12, &w3, 4);
      key->family = 6;
    }
  } else {
    return 0;
  }
  key->port = port;
  key->protocol = (__u8)protocol;
  return 1;
}

static __always_inline struct quorvel_socket_slot *slot_of(__u64 socket) {
  const __u32 index = socket & (QUORVEL_SOCKET_SLOTS - 1);
  return bpf_map_lookup_elem(&sockets, &index);
}

// A slot's writes happen between two steps of its sequence. x86 keeps
// stores in program order, so there the compiler alone must be held back;
// elsewhere the atomic steps order them.
#ifdef __TARGET_ARCH_x86
static __always_inline void begin_write(struct quorvel_socket_slot *slot) {
  slot->sequence++;
  asm volatile("" ::: "memory");
}
static __always_inline void end_write(struct quorvel_socket_slot *slot) {
  asm volatile("" ::: "memory");
  slot->sequence++;
}
#else
static __always_inline void begin_write(struct quorvel_socket_slot *slot) { __sync_fetch_and_add(&slot->sequence, 1); }
static __always_inline void end_write(struct quorvel_socket_slot *slot) { __sync_fetch_and_add(&slot->sequence, 1); }
#endif

// The calling process becomes the socket's owner; its executable's name is
// read and sent once per process, however many sockets it opens.
static __always_inline void take_owner(struct quorvel_socket_slot *slot, __u64 socket) {
  struct task_struct *task = bpf_get_current_task_btf();
  const __u32 pid = bpf_get_current_pid_tgid() >> 32;
  const __u64 start_time = task->group_leader->start_boottime;
  begin_write(slot);
  slot->socket = socket;
  slot->pid = pid;
  slot->start_time = start_time;
  slot->closed_at = 0;
  slot->state = QUORVEL_SLOT_CONNECTING;
  end_write(slot);

  const __u32 zero = 0;
  struct announced_process *last = bpf_map_lookup_elem(&last_announced, &zero);
  if (!last || (last->pid == pid && last->start_time == start_time)) return;
  last->pid = pid;
  last->start_time = start_time;
  const struct quorvel_process *known = bpf_map_lookup_elem(&announced, &pid);
  if (known && known->start_time == start_time) return;

  struct quorvel_process process = {.start_time = start_time, .pid = pid};
  // Read with probes: once per process, and the verifier's check of each
  // typed pointer load on this path would cost more than the reads.
  const unsigned char *name = BPF_CORE_READ(task, mm, exe_file, f_path.dentry, d_name.name);
  if (!name || bpf_probe_read_kernel_str(process.name, sizeof process.name, name) <= 0) {
    bpf_get_current_comm(process.name, sizeof process.name);
  }
  bpf_map_update_elem(&announced, &pid, &process, BPF_ANY);
  bpf_ringbuf_output(&owner_events, &process, sizeof process, 0);
}

static __always_inline void publish(const struct sock *sk, struct quorvel_socket_slot *slot) {
  struct quorvel_owner_key key;
  if (!make_key(sk, &key)) return;
  begin_write(slot);
  slot->key = key;
  slot->state = QUORVEL_SLOT_NAMED;
  end_write(slot);
  __sync_fetch_and_add(&owner_changes, 1);
}

// Marked, not emptied, so that the socket's last packets, still in the
// capture's buffers, keep their owner until another socket takes the slot.
// The time is the socket's last activity, which TCP keeps on the clock the
// reader reads: no clock read here.
static __always_inline void release(struct sock *sk, struct quorvel_socket_slot *slot) {
  const __u32 state = slot->state == QUORVEL_SLOT_NAMED ? QUORVEL_SLOT_CLOSED : QUORVEL_SLOT_FREE;
  __u64 now = 0;
  if (state == QUORVEL_SLOT_CLOSED) {
    const struct tcp_sock *tcp = bpf_skc_to_tcp_sock(sk);
    now = tcp ? tcp->tcp_clock_cache : 0;
    if (now == 0) now = bpf_ktime_get_ns();
  }
  begin_write(slot);
  slot->closed_at = now;
  slot->state = state;
  end_write(slot);
}

SEC("tp_btf/inet_sock_set_state")
int BPF_PROG(tcp_state, struct sock *sk, int old_state, int new_state) {
  if (new_state == TCP_SYN_SENT || new_state == TCP_LISTEN) {
    // Entered in the context of the process that connects or listens.
    if (!watched(sk)) return 0;
    const __u64 socket = bpf_get_socket_cookie(sk);
    struct quorvel_socket_slot *slot = slot_of(socket);
    if (!slot) return 0;
    take_owner(slot, socket);
    if (sk->__sk_common.skc_num != 0) publish(sk, slot);  // bound before
    return 0;
  }
  if (old_state != TCP_SYN_SENT && new_state != TCP_CLOSE) return 0;
  // A socket without a cookie was never given one here: accepted sockets
  // end at this test.
  const __u64 socket = sk->__sk_common.skc_cookie.counter;
  if (socket == 0) return 0;
  struct quorvel_socket_slot *slot = slot_of(socket);
  if (!slot || slot->socket != socket) return 0;
  if (old_state == TCP_SYN_SENT && slot->state == QUORVEL_SLOT_CONNECTING) publish(sk, slot);  // the port connect chose
  if (new_state == TCP_CLOSE && slot->state != QUORVEL_SLOT_CLOSED) release(sk, slot);
  return 0;
}

// A UDP socket has its port once a send or a receive succeeded: bound
// explicitly or on its first send. Later calls find it named.
static __always_inline void udp_used(struct sock *sk) {
  if (sk->sk_protocol != IPPROTO_UDP || !watched(sk)) return;
  const __u64 socket = bpf_get_socket_cookie(sk);
  struct quorvel_socket_slot *slot = slot_of(socket);
  if (!slot) return;
  if (slot->socket == socket && slot->state == QUORVEL_SLOT_NAMED && slot->key.port == sk->__sk_common.skc_num) return;
  take_owner(slot, socket);
  publish(sk, slot);
}

SEC("tp_btf/sock_send_length")
int BPF_PROG(udp_sent, struct sock *sk, int ret, int flags) {
  if (ret >= 0) udp_used(sk);
  return 0;
}

SEC("tp_btf/sock_recv_length")
int BPF_PROG(udp_received, struct sock *sk, int ret, int flags) {
  if (ret >= 0) udp_used(sk);
  return 0;
}
