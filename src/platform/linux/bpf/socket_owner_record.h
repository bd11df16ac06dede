/* Records shared by the socket-owner BPF program and the program that
   reads them: plain C, fixed sizes, no padding left to the compiler. */
#ifndef QUORVEL_SOCKET_OWNER_RECORD_H
#define QUORVEL_SOCKET_OWNER_RECORD_H

#define QUORVEL_OWNER_NAME_BYTES 64
#define QUORVEL_PROCESS_ENTRIES 8192
/* The socket table: a power of two. */
#define QUORVEL_SOCKET_SLOTS 8192

/* A local endpoint: protocol (6 or 17), family (4: IPv4, IPv4-mapped IPv6
   included; 6: IPv6), port in host order and the bound address (IPv4 in the
   first four bytes; all zero for any address), in the network namespace
   of that inode number: the same address and port mean other sockets in
   other namespaces. */
struct quorvel_owner_key {
  unsigned char address[16];
  unsigned short port;
  unsigned char protocol;
  unsigned char family;
  unsigned int network_namespace;
};

enum quorvel_slot_state { QUORVEL_SLOT_FREE, QUORVEL_SLOT_CONNECTING, QUORVEL_SLOT_NAMED, QUORVEL_SLOT_CLOSED };

/* A socket and who gave it its port: one slot of the socket table, which
   the reader maps into its memory. The writer makes `sequence` odd while it
   writes the slot, so that a reader can tell a torn copy. */
struct quorvel_socket_slot {
  struct quorvel_owner_key key;   /* valid once named */
  unsigned int sequence;
  unsigned int pid;
  unsigned long long socket;      /* the socket's cookie: tells sockets apart */
  unsigned long long start_time;  /* process start, ns since boot */
  unsigned long long closed_at;   /* CLOCK_MONOTONIC ns when the socket was released */
  unsigned int state;             /* enum quorvel_slot_state */
  unsigned int reserved;
};

/* A process that owns sockets, sent once on the ring buffer so that its
   executable's path can be read while it lives. */
struct quorvel_process {
  unsigned long long start_time;
  unsigned int pid;
  unsigned int reserved;
  char name[QUORVEL_OWNER_NAME_BYTES]; /* executable file name, else the task's command */
};

#endif
