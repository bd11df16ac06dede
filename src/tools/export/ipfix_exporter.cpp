#include "tools/export/ipfix_exporter.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "tools/export/host_port.h"

namespace quorvel::ipfix {
namespace {

std::int64_t Milliseconds(std::int64_t microseconds) {
  return microseconds / 1000 - (microseconds % 1000 < 0 ? 1 : 0);
}

}  // namespace

std::vector<FlowRecord> RecordTracker::Due(const FlowSnapshot& flows, std::int64_t nowMilliseconds, bool final) {
  std::vector<FlowRecord> due;
  for (const auto& [key, flow] : flows) {
    Exported& exported = exported_[key];
    if (flow.uploadPackets == exported.uploadPackets && flow.downloadPackets == exported.downloadPackets) continue;
    const std::int64_t last = Milliseconds(flow.lastMicroseconds);
    if (exported.recordStartMilliseconds == 0) {
      // A later record began after the snapshot that saw no news yet.
      exported.recordStartMilliseconds =
          exported.any ? std::min(previousSnapshotMilliseconds_, last) : Milliseconds(flow.firstMicroseconds);
    }
    const bool idle = nowMilliseconds - last >= timeouts_.idleMilliseconds;
    const bool active = nowMilliseconds - exported.recordStartMilliseconds >= timeouts_.activeMilliseconds;
    if (!final && !idle && !active) continue;
    FlowRecord record;
    record.localAddress = flow.localAddress;
    record.remoteAddress = key.remoteAddress;
    record.localPort = static_cast<std::uint16_t>(key.localPort);
    record.remotePort = static_cast<std::uint16_t>(key.remotePort);
    record.protocol = static_cast<std::uint8_t>(flow.protocol);
    record.startMilliseconds = exported.recordStartMilliseconds;
    record.endMilliseconds = last;
    record.uploadOctets = flow.upload - exported.uploadOctets;
    record.uploadPackets = flow.uploadPackets - exported.uploadPackets;
    record.downloadOctets = flow.download - exported.downloadOctets;
    record.downloadPackets = flow.downloadPackets - exported.downloadPackets;
    record.applicationName = key.localSource;
    due.push_back(std::move(record));
    exported = Exported{flow.upload, flow.uploadPackets, flow.download, flow.downloadPackets, 0, true};
  }
  previousSnapshotMilliseconds_ = nowMilliseconds;
  return due;
}

Exporter::~Exporter() {
  if (socket_ >= 0) ::close(socket_);
}

Status Exporter::Open(const std::string& collector, std::int64_t nowMilliseconds) {
  std::string host;
  std::string port;
  if (!SplitHostPort(collector, host, port)) return Status::Failure("--ipfix: not HOST:PORT: " + collector);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (const int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0) {
    return Status::Failure("--ipfix: can't resolve " + host + ": " + ::gai_strerror(error));
  }
  for (const addrinfo* entry = found; entry != nullptr && socket_ < 0; entry = entry->ai_next) {
    socket_ = ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol);
    if (socket_ >= 0 && ::connect(socket_, entry->ai_addr, entry->ai_addrlen) != 0) {
      ::close(socket_);
      socket_ = -1;
    }
  }
  ::freeaddrinfo(found);
  if (socket_ < 0) return Status::Failure("--ipfix: can't open a UDP socket to " + collector);
  SendTemplates(nowMilliseconds);
  return Status::Success();
}

void Exporter::SendTemplates(std::int64_t nowMilliseconds) {
  Send(builder_.TemplateMessage(static_cast<std::uint32_t>(nowMilliseconds / 1000)));
  lastTemplateMilliseconds_ = nowMilliseconds;
}

void Exporter::Tick(const FlowSnapshot& flows, std::int64_t nowMilliseconds, bool final) {
  if (socket_ < 0) return;
  // Over UDP a collector that started late learns the templates this way.
  if (nowMilliseconds - lastTemplateMilliseconds_ >= kTemplateIntervalMilliseconds) SendTemplates(nowMilliseconds);
  const std::vector<FlowRecord> records = tracker_.Due(flows, nowMilliseconds, final);
  for (const std::string& message : builder_.DataMessages(records, static_cast<std::uint32_t>(nowMilliseconds / 1000))) {
    Send(message);
  }
}

void Exporter::Send(const std::string& message) {
  // A collector that is down answers with ICMP errors; the records are lost,
  // as with any UDP exporter, and counted.
  if (::send(socket_, message.data(), message.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(message.size())) {
    ++sendFailures_;
  }
}

}  // namespace quorvel::ipfix
