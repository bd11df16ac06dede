// Learns which process gives each TCP and UDP socket its local port, in that
// process's context, as it happens: TCP connect, bind and listen, UDP bind,
// connect and first send (an implicit bind), IPv4 and IPv6. Hooked at the
// exit of those system calls, where the port is known; only raw tracepoints
// are used, since kprobes and fentry/fexit are not available on every
// kernel that has BTF. A TCP socket's entry is marked when it closes.
#include "vmlinux.h"

#include <bpf/bpf_core_read.h>
#include <bpf/bpf_endian.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_tracing.h>

#include "socket_owner_record.h"

#define AF_INET 2
#define AF_INET6 10
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17
#define EINPROGRESS 115
#define TCP_CLOSE 7

#if defined(__TARGET_ARCH_x86)
#define NR_CONNECT 42
#define NR_SENDTO 44
#define NR_SENDMSG 46
#define NR_BIND 49
#define NR_LISTEN 50
#define NR_SENDMMSG 307
#define SYSCALL_NUMBER(regs) BPF_CORE_READ(regs, orig_ax)
#elif defined(__TARGET_ARCH_arm64)
#define NR_BIND 200
#define NR_LISTEN 201
#define NR_CONNECT 203
#define NR_SENDTO 206
#define NR_SENDMSG 211
#define NR_SENDMMSG 269
#define SYSCALL_NUMBER(regs) BPF_CORE_READ(regs, syscallno)
#else
#error "system call numbers of this architecture are not listed"
#endif

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

// Processes already announced on the ring buffer, by pid, with their start
// times and names.
struct {
  __uint(type, BPF_MAP_TYPE_LRU_HASH);
  __uint(max_entries, 8192);
  __uint(map_flags, BPF_F_NO_COMMON_LRU);
  __type(key, __u32);
  __type(value, struct quorvel_owner);
} announced SEC(".maps");

// Counts owner entries written for sockets of the capture's network
// namespace (of every namespace while it is 0), the only ones it asks about;
// read through the mapped data section, so that a reader learns of a change
// without a system call. Set before loading.
const volatile __u32 counted_namespace = 0;
__u64 owner_changes = 0;

// Scratch for building a value: too large for the BPF stack with the key.
struct {
  __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
  __uint(max_entries, 1);
  __type(key, __u32);
  __type(value, struct quorvel_owner);
} scratch SEC(".maps");

static __always_inline int make_key(struct sock *sk, struct quorvel_owner_key *key) {
  __builtin_memset(key, 0, sizeof *key);
  const __u16 family = BPF_CORE_READ(sk, __sk_common.skc_family);
  key->port = BPF_CORE_READ(sk, __sk_common.skc_num);
  key->protocol = BPF_CORE_READ(sk, sk_protocol);
  if (key->port == 0 || (key->protocol != IPPROTO_TCP && key->protocol != IPPROTO_UDP)) return 0;
  key->network_namespace = BPF_CORE_READ(sk, __sk_common.skc_net.net, ns.inum);
  if (family == AF_INET) {
    const __u32 address = BPF_CORE_READ(sk, __sk_common.skc_rcv_saddr);
    __builtin_memcpy(key->address, &address, 4);
    key->family = 4;
    return 1;
  }
  if (family != AF_INET6) return 0;
  struct in6_addr address = BPF_CORE_READ(sk, __sk_common.skc_v6_rcv_saddr);
  const __u32 *words = (const __u32 *)&address;
  if (words[0] == 0 && words[1] == 0 && words[2] == bpf_htonl(0xffff)) {
    // An IPv4-mapped address carries IPv4 traffic.
    __builtin_memcpy(key->address, &words[3], 4);
    key->family = 4;
  } else {
    __builtin_memcpy(key->address, &address, 16);
    key->family = 6;
  }
  return 1;
}

static __always_inline void record(struct sock *sk, int udp_only) {
  struct quorvel_owner_key key;
  if (!make_key(sk, &key)) return;
  if (udp_only) {
    // A send names a UDP socket only the first time: later sends find it.
    if (key.protocol != IPPROTO_UDP) return;
    const struct quorvel_owner *known = bpf_map_lookup_elem(&owners, &key);
    if (known && known->socket == (__u64)sk) return;
  }
  const __u32 zero = 0;
  struct quorvel_owner *owner = bpf_map_lookup_elem(&scratch, &zero);
  if (!owner) return;
  struct task_struct *task = bpf_get_current_task_btf();
  owner->socket = (__u64)sk;
  owner->start_time = task->group_leader->start_boottime;
  owner->closed_at = 0;
  owner->pid = bpf_get_current_pid_tgid() >> 32;
  owner->reserved = 0;

  // The executable's name is read once per process; a program opening many
  // connections costs one event too.
  struct quorvel_owner *process = bpf_map_lookup_elem(&announced, &owner->pid);
  const int known = process && process->start_time == owner->start_time;
  if (known) {
    __builtin_memcpy(owner->name, process->name, sizeof owner->name);
  } else {
    const unsigned char *name = BPF_CORE_READ(task, mm, exe_file, f_path.dentry, d_name.name);
    if (!name || bpf_probe_read_kernel_str(owner->name, sizeof owner->name, name) <= 0) {
      bpf_get_current_comm(owner->name, sizeof owner->name);
    }
  }
  bpf_map_update_elem(&owners, &key, owner, BPF_ANY);
  if (!counted_namespace || key.network_namespace == counted_namespace) __sync_fetch_and_add(&owner_changes, 1);
  if (known) return;

  bpf_map_update_elem(&announced, &owner->pid, owner, BPF_ANY);
  struct quorvel_owner_event *event = bpf_ringbuf_reserve(&owner_events, sizeof *event, 0);
  if (!event) return;
  event->start_time = owner->start_time;
  event->pid = owner->pid;
  event->reserved = 0;
  bpf_ringbuf_submit(event, 0);
}

static __always_inline struct sock *socket_of(__u64 fd) {
  struct task_struct *task = (struct task_struct *)bpf_get_current_task_btf();
  struct fdtable *table = BPF_CORE_READ(task, files, fdt);
  if (!table || fd >= BPF_CORE_READ(table, max_fds)) return 0;
  struct file **files = BPF_CORE_READ(table, fd);
  struct file *file = 0;
  if (bpf_probe_read_kernel(&file, sizeof file, &files[fd]) != 0 || !file) return 0;
  // The call succeeded on this descriptor, so it is a socket.
  struct socket *sock = BPF_CORE_READ(file, private_data);
  return sock ? BPF_CORE_READ(sock, sk) : 0;
}

// The raw exit hook: unlike the per-call tracepoints it needs no tracefs,
// which a fresh mount namespace (ip netns exec) lacks. The call's first
// argument, the socket descriptor, is still in the saved registers.
SEC("tp_btf/sys_exit")
int BPF_PROG(call_exit, struct pt_regs *regs, long ret) {
  const long id = SYSCALL_NUMBER(regs);
  int succeeded;
  int udp_only = 0;
  if (id == NR_CONNECT) {
    succeeded = ret == 0 || ret == -EINPROGRESS;  // a non-blocking connect has its port once under way
  } else if (id == NR_BIND || id == NR_LISTEN) {
    succeeded = ret == 0;
  } else if (id == NR_SENDTO || id == NR_SENDMSG || id == NR_SENDMMSG) {
    succeeded = ret >= 0;
    udp_only = 1;
  } else {
    return 0;
  }
  if (!succeeded) return 0;
  struct sock *sk = socket_of(PT_REGS_PARM1_CORE_SYSCALL(regs));
  if (sk) record(sk, udp_only);
  return 0;
}

// A TCP socket's close, in whatever context: its entry is marked, not
// removed, so that its last packets, still in the capture's buffers, keep
// their owner.
SEC("tp_btf/inet_sock_set_state")
int BPF_PROG(tcp_state, const struct sock *sk, int old_state, int new_state) {
  if (new_state != TCP_CLOSE) return 0;
  struct quorvel_owner_key key;
  if (!make_key((struct sock *)sk, &key)) return 0;
  struct quorvel_owner *owner = bpf_map_lookup_elem(&owners, &key);
  if (owner && owner->socket == (__u64)sk) owner->closed_at = bpf_ktime_get_ns();
  return 0;
}
