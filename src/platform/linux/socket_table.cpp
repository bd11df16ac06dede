#include "platform/linux/socket_table.h"

#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <iterator>

namespace quorvel {
namespace {

constexpr std::size_t kReceiveBufferBytes = 64 * 1024;

// Socket states to dump, as bits (1 << state): every state that a process can
// hold, which also covers UDP (established or close). Left out: TIME_WAIT
// and SYN_RECV mini-sockets, which no process holds, and bound-only TCP
// sockets, which /proc/net/tcp does not list either and whose hash is costly
// to walk.
constexpr std::uint32_t kTcpEstablished = 1;
constexpr std::uint32_t kTcpTimeWait = 6;
constexpr std::uint32_t kTcpClosing = 11;
constexpr std::uint32_t kDumpStates =
    ((1u << (kTcpClosing + 1)) - (1u << kTcpEstablished)) & ~(1u << kTcpTimeWait);

std::string_view NextField(std::string_view& line) {
  const auto start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) {
    line = {};
    return {};
  }
  line.remove_prefix(start);
  const auto end = line.find_first_of(" \t");
  const std::string_view field = line.substr(0, end);
  line.remove_prefix(end == std::string_view::npos ? line.size() : end);
  return field;
}

template <typename Number>
bool ParseNumber(std::string_view text, int base, Number& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && end == text.data() + text.size();
}

// A row: "sl: local rem st tx:rx tr:when retrnsmt uid timeout inode ...",
// local being HEXADDR:HEXPORT.
bool ParseRow(std::string_view line, bool udp, SocketRow& row) {
  const std::string_view slot = NextField(line);
  if (slot.empty() || slot.back() != ':') return false;
  const std::string_view local = NextField(line);
  const auto colon = local.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::uint16_t port = 0;
  if (!ParseNumber(local.substr(colon + 1), 16, port)) return false;
  for (int skip = 0; skip < 7; ++skip) NextField(line);  // rem .. timeout
  std::uint64_t inode = 0;
  if (!ParseNumber(NextField(line), 10, inode)) return false;
  row = SocketRow{port, udp, inode};
  return true;
}

}  // namespace

void ParseProcNetTable(std::string_view text, bool udp, std::vector<SocketRow>& rows) {
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    SocketRow row;
    if (ParseRow(line, udp, row)) rows.push_back(row);
  }
}

std::optional<std::uint64_t> SocketCountsStamp(std::string_view text) {
  static constexpr std::string_view kCounted[] = {"TCP:", "UDP:", "TCP6:", "UDP6:"};
  std::optional<std::uint64_t> stamp;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::string_view name = NextField(line);
    const auto counted = std::find(std::begin(kCounted), std::end(kCounted), name);
    if (counted == std::end(kCounted) || NextField(line) != "inuse") continue;
    std::uint64_t count = 0;
    if (!ParseNumber(NextField(line), 10, count)) continue;
    const auto which = static_cast<std::uint64_t>(counted - std::begin(kCounted));
    stamp = (stamp.value_or(0) * 0x100000001b3ULL) ^ (count + (which << 56));
  }
  return stamp;
}

std::optional<std::string_view> ReadProcFile(const std::string& path, std::string& buffer) {
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return std::nullopt;
  // The file reports no size; read it whole in large chunks.
  std::size_t used = 0;
  bool ok = true;
  for (;;) {
    if (buffer.size() < used + kReceiveBufferBytes) buffer.resize(used + kReceiveBufferBytes);
    const ssize_t got = read(file, buffer.data() + used, buffer.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    used += static_cast<std::size_t>(got);
  }
  close(file);
  if (!ok) return std::nullopt;
  return std::string_view(buffer.data(), used);
}

bool ReadProcNetTable(const std::string& path, bool udp, std::vector<SocketRow>& rows,
                      std::string& buffer) {
  const auto text = ReadProcFile(path, buffer);
  if (text) ParseProcNetTable(*text, udp, rows);
  return text.has_value();
}

SockDiagReader::~SockDiagReader() {
  if (socket_ >= 0) close(socket_);
}

bool SockDiagReader::Request(SocketTableKind kind) {
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.header.nlmsg_seq = ++sequence_;
  message.request.sdiag_family = kind.ipv6 ? AF_INET6 : AF_INET;
  message.request.sdiag_protocol = kind.udp ? IPPROTO_UDP : IPPROTO_TCP;
  message.request.idiag_states = kDumpStates;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  for (;;) {
    const ssize_t sent = sendto(socket_, &message, sizeof message, 0,
                                reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    if (sent == static_cast<ssize_t>(sizeof message)) return true;
    if (sent < 0 && errno == EINTR) continue;
    return false;
  }
}

bool SockDiagReader::Read(SocketTableKind kind, std::vector<SocketRow>& rows) {
  if (socket_ < 0) {
    socket_ = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (socket_ < 0) return false;
    buffer_.resize(kReceiveBufferBytes);
  }
  if (!Request(kind)) return false;
  const std::size_t firstRow = rows.size();
  for (;;) {
    const ssize_t got = recv(socket_, buffer_.data(), buffer_.size(), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::size_t left = static_cast<std::size_t>(got);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer_.data()); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
      if (header->nlmsg_seq != sequence_) continue;  // a late answer to an abandoned dump
      if (header->nlmsg_type == NLMSG_DONE) return true;
      if (header->nlmsg_type == NLMSG_ERROR) {
        rows.resize(firstRow);
        return false;
      }
      if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
          header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        continue;
      }
      inet_diag_msg diag;
      std::memcpy(&diag, NLMSG_DATA(header), sizeof diag);
      rows.push_back(SocketRow{ntohs(diag.id.idiag_sport), kind.udp, diag.idiag_inode});
    }
  }
  // The dump broke off: a half table would make owners vanish, so drop it and
  // start the next dump on a fresh socket.
  rows.resize(firstRow);
  close(socket_);
  socket_ = -1;
  return false;
}

}  // namespace quorvel
