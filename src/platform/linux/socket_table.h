#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// One row of the kernel's TCP or UDP socket table.
struct SocketRow {
  std::uint16_t port = 0;    // local port, host order
  bool udp = false;
  std::uint64_t inode = 0;   // socket inode; 0 for sockets no process holds
  bool operator==(const SocketRow&) const = default;
};

// Which table: TCP or UDP over IPv4 or IPv6 (dual-stack sockets carry IPv4 too).
struct SocketTableKind {
  bool udp = false;
  bool ipv6 = false;
};

// The four tables in the order owners are reported: tcp, tcp6, udp, udp6.
inline constexpr SocketTableKind kSocketTables[] = {
    {false, false}, {false, true}, {true, false}, {true, true}};

// Appends the rows of a /proc/net/{tcp,tcp6,udp,udp6} text; lines that do not
// parse (the heading among them) are skipped.
void ParseProcNetTable(std::string_view text, bool udp, std::vector<SocketRow>& rows);

// Folds the "inuse" counts of the TCP, UDP, TCP6 and UDP6 lines of
// /proc/net/sockstat and sockstat6 texts into one number, which changes when
// sockets of this network namespace come or go; nullopt when no count is found.
std::optional<std::uint64_t> SocketCountsStamp(std::string_view text);

// Reads a whole /proc file into `buffer`; nullopt when it cannot be read.
std::optional<std::string_view> ReadProcFile(const std::string& path, std::string& buffer);

// Reads and parses one /proc/net table file; false when it cannot be read.
// `buffer` is scratch space kept by the caller to avoid reallocating.
bool ReadProcNetTable(const std::string& path, bool udp, std::vector<SocketRow>& rows,
                      std::string& buffer);

// Reads the tables over netlink sock_diag, which costs far less than the
// /proc/net texts when there are thousands of sockets. One reader per thread.
class SockDiagReader {
 public:
  SockDiagReader() = default;
  ~SockDiagReader();
  SockDiagReader(const SockDiagReader&) = delete;
  SockDiagReader& operator=(const SockDiagReader&) = delete;

  // Appends one table's rows; on failure appends nothing and returns false.
  bool Read(SocketTableKind kind, std::vector<SocketRow>& rows);

 private:
  bool Request(SocketTableKind kind);

  int socket_ = -1;
  std::uint32_t sequence_ = 0;
  std::vector<char> buffer_;
};

}  // namespace quorvel
