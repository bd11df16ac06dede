// Learns which process gives each TCP and UDP socket its local port, in that
// process's context, as it happens, IPv4 and IPv6. The hooks are chosen for
// what they cost where nothing is learned: no system call hook (it would
// slow every call of every process), no per-socket allocation, and raw
// tracepoints and a cgroup socket hook rather than kprobes or fentry, which
// many kernels with BTF refuse.
// - TCP: the state tracepoint. Connect enters SYN_SENT in the caller's
//   context before the port is chosen, so the owner waits in the socket's
//   slot until the next transition; listen enters LISTEN with its port
//   bound. CLOSE marks the entry.
// - UDP: the first send or receive that succeeds on a socket (its port is
//   bound by then); the release of the socket marks the entry.
// Socket fields are read through BTF-typed pointers: plain loads, no
// helper calls.
#include "vmlinux.h"

#include <bpf/bpf_endian.h>
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

struct {
  __uint(type, BPF_MAP_TYPE_LRU_HASH);
  __uint(max_entries, QUORVEL_OWNER_ENTRIES);
  __uint(map_flags, BPF_F_NO_COMMON_LRU);  // per-CPU lists: an eviction takes no shared lock
  __type(key, struct quorvel_owner_key);
  __type(value, struct quorvel_owner);
} owners SEC(".maps");

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

// The sockets this program is naming, in a direct-mapped table indexed by
// a hash of the socket's cookie (the one identity that both the tracepoints
// and the release hook see): finding a socket is one memory read,
// and a socket it does not know (an accepted one) costs no more. Two live
// sockets on one slot evict each other (slots take no lock): the evicted
// one is left to the tables or, once named, its close is missed and its
// entry ends by age or by the port's next owner.
#define SLOT_BITS 12
enum { SLOT_FREE, SLOT_CONNECTING, SLOT_NAMED };

struct socket_slot {
  __u64 socket;
  __u64 start_time;
  __u32 pid;
  __u32 state;
  struct quorvel_owner_key key;  // valid once named
};

struct {
  __uint(type, BPF_MAP_TYPE_ARRAY);
  __uint(max_entries, 1 << SLOT_BITS);
  __type(key, __u32);
  __type(value, struct socket_slot);
} sockets SEC(".maps");

// The process this CPU announced last: a program opening many sockets in a
// row skips the lookup in `announced`.
struct {
  __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
  __uint(max_entries, 1);
  __type(key, __u32);
  __type(value, struct quorvel_owner);
} last_announced SEC(".maps");

// Counts owner entries written for sockets of the capture's network
// namespace (of every namespace while it is 0), the only ones it asks about;
// read through the mapped data section, so that a reader learns of a change
// without a system call. Set before loading.
const volatile __u32 counted_namespace = 0;
__u64 owner_changes = 0;

static __always_inline int make_key(const struct sock *sk, struct quorvel_owner_key *key) {
  __builtin_memset(key, 0, sizeof *key);
  const __u16 family = sk->__sk_common.skc_family;
  const __u16 port = sk->__sk_common.skc_num;
  const __u16 protocol = sk->sk_protocol;
  if (port == 0 || (protocol != IPPROTO_TCP && protocol != IPPROTO_UDP)) return 0;
  key->network_namespace = sk->__sk_common.skc_net.net->ns.inum;
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

static __always_inline struct socket_slot *slot_of(__u64 socket) {
  const __u32 index = (socket * 0x9E3779B97F4A7C15ULL) >> (64 - SLOT_BITS);
  return bpf_map_lookup_elem(&sockets, &index);
}

// The calling process becomes the socket's owner; its executable's name is
// read and sent once per process, however many sockets it opens.
static __always_inline void take_owner(struct socket_slot *slot, __u64 socket) {
  struct task_struct *task = bpf_get_current_task_btf();
  const __u32 pid = bpf_get_current_pid_tgid() >> 32;
  const __u64 start_time = task->group_leader->start_boottime;
  slot->socket = socket;
  slot->pid = pid;
  slot->start_time = start_time;
  slot->state = SLOT_CONNECTING;

  const __u32 zero = 0;
  struct quorvel_owner *last = bpf_map_lookup_elem(&last_announced, &zero);
  if (!last || (last->pid == pid && last->start_time == start_time)) return;
  last->pid = pid;
  last->start_time = start_time;
  const struct quorvel_process *known = bpf_map_lookup_elem(&announced, &pid);
  if (known && known->start_time == start_time) return;

  struct quorvel_process process = {.start_time = start_time, .pid = pid};
  const unsigned char *name = task->mm ? task->mm->exe_file->f_path.dentry->d_name.name : 0;
  if (!name || bpf_probe_read_kernel_str(process.name, sizeof process.name, name) <= 0) {
    bpf_get_current_comm(process.name, sizeof process.name);
  }
  bpf_map_update_elem(&announced, &pid, &process, BPF_ANY);
  bpf_ringbuf_output(&owner_events, &process, sizeof process, 0);
}

static __always_inline void publish(const struct sock *sk, struct socket_slot *slot) {
  if (!make_key(sk, &slot->key)) return;
  slot->state = SLOT_NAMED;
  if (!counted_namespace || slot->key.network_namespace == counted_namespace) {
    __sync_fetch_and_add(&owner_changes, 1);
  }
  // A program that connects again and again meets its own earlier entries:
  // rewritten in place, without the cost of replacing an LRU element.
  struct quorvel_owner *known = bpf_map_lookup_elem(&owners, &slot->key);
  if (known && known->pid == slot->pid && known->start_time == slot->start_time) {
    known->closed_at = 0;
    known->socket = slot->socket;
    return;
  }
  const struct quorvel_owner owner = {.socket = slot->socket, .start_time = slot->start_time, .pid = slot->pid};
  bpf_map_update_elem(&owners, &slot->key, &owner, BPF_ANY);
}

// Marked, not removed, so that the socket's last packets, still in the
// capture's buffers, keep their owner; only if no other socket took the
// endpoint since.
static __always_inline void release(struct socket_slot *slot) {
  if (slot->state == SLOT_NAMED) {
    struct quorvel_owner *owner = bpf_map_lookup_elem(&owners, &slot->key);
    if (owner && owner->socket == slot->socket) owner->closed_at = bpf_ktime_get_ns();
  }
  slot->state = SLOT_FREE;
  slot->socket = 0;
}

SEC("tp_btf/inet_sock_set_state")
int BPF_PROG(tcp_state, struct sock *sk, int old_state, int new_state) {
  if (new_state == TCP_SYN_SENT || new_state == TCP_LISTEN) {
    // Entered in the context of the process that connects or listens.
    const __u64 socket = bpf_get_socket_cookie(sk);
    struct socket_slot *slot = slot_of(socket);
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
  struct socket_slot *slot = slot_of(socket);
  if (!slot || slot->socket != socket) return 0;
  if (old_state == TCP_SYN_SENT && slot->state == SLOT_CONNECTING) publish(sk, slot);  // the port connect chose
  if (new_state == TCP_CLOSE) release(slot);
  return 0;
}

// A UDP socket has its port once a send or a receive succeeded: bound
// explicitly or on its first send. Later calls find it named.
static __always_inline void udp_used(struct sock *sk) {
  if (sk->sk_protocol != IPPROTO_UDP) return;
  const __u64 socket = bpf_get_socket_cookie(sk);
  struct socket_slot *slot = slot_of(socket);
  if (!slot) return;
  if (slot->socket == socket && slot->state == SLOT_NAMED && slot->key.port == sk->__sk_common.skc_num) return;
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

// Every release of an inet socket by its last user, attached to the root of
// the cgroup hierarchy; it never refuses (returns 1).
SEC("cgroup/sock_release")
int udp_release(struct bpf_sock *sk) {
  if (sk->protocol != IPPROTO_UDP) return 1;
  const __u64 socket = bpf_get_socket_cookie(sk);
  struct socket_slot *slot = slot_of(socket);
  if (slot && slot->socket == socket) release(slot);
  return 1;
}
