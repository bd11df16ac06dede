#include "capture/request_loop.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "capture/helper_rights.h"
#include "capture/packet_stream.h"
#include "platform/capture_protocol.h"
#include "platform/clock.h"
#include "platform/linux/bpf/bpf_socket_tracker.h"
#include "platform/linux/ifaddrs_interface_lister.h"
#include "platform/linux/pcap_capture.h"
#include "platform/linux/proc_owner_source.h"

namespace quorvel {
namespace {

bool ReadExactly(int socket, std::uint8_t* into, std::size_t count) {
  while (count > 0) {
    const ssize_t got = recv(socket, into, count, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAll(int socket, const std::vector<std::uint8_t>& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t sent = send(socket, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    at += static_cast<std::size_t>(sent);
  }
  return true;
}

// Sends `bytes` with a descriptor attached to their first byte.
bool WriteWithDescriptor(int socket, const std::vector<std::uint8_t>& bytes, int descriptor) {
  iovec data{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &descriptor, sizeof descriptor);
  ssize_t sent;
  do {
    sent = sendmsg(socket, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent <= 0) return false;
  return WriteAll(socket, std::vector<std::uint8_t>(bytes.begin() + sent, bytes.end()));
}

enum class Read { kRequest, kEnd, kMalformed };

Read ReadRequest(int socket, std::optional<CaptureRequest>& request) {
  std::uint32_t length = 0;
  if (!ReadExactly(socket, reinterpret_cast<std::uint8_t*>(&length), sizeof length)) return Read::kEnd;
  if (length == 0 || length > kMaxRequestBytes) return Read::kMalformed;
  std::uint8_t body[kMaxRequestBytes];
  if (!ReadExactly(socket, body, length)) return Read::kEnd;
  request = ParseRequest(std::span<const std::uint8_t>(body, length));
  return request ? Read::kRequest : Read::kMalformed;
}

// The capture role: one interface, opened once, then packets until stopped.
class CaptureSession {
 public:
  explicit CaptureSession(int socket) : socket_(socket) {}
  ~CaptureSession() {
    stop_ = true;
    if (opened_.source) opened_.source->Interrupt();
    if (thread_.joinable()) thread_.join();
  }

  // The exit status when the helper is to end, nothing while it captures.
  std::optional<int> Open(const std::string& name) {
    if (opened_.source) return kHelperMalformed;
    std::vector<std::uint8_t> reply;
    if (!HasInterfaceNamed(name)) {
      AppendText(reply, MessageType::kOpenFailed, "No network interface is named " + name);
      WriteAll(socket_, reply);
      return kHelperFailed;
    }
    opened_ = OpenLiveCaptureOn(name);
    // Once the capture is open this process needs no right at all.
    if (opened_.source && !KeepOnlyRights(0)) {
      opened_ = OpenedCapture{nullptr, "quorvel-capture could not give up its rights", false};
    }
    if (!opened_.source) {
      AppendText(reply, MessageType::kOpenFailed, opened_.error);
      WriteAll(socket_, reply);
      return kHelperFailed;
    }
    stream_ = std::make_unique<PacketStream>(socket_, *opened_.source);
    stream_->SetPayload(payload_);
    AppendOpened(reply, OpenedReply{opened_.promiscuousFailed});
    if (!WriteAll(socket_, reply)) return kHelperDone;
    thread_ = std::thread([this] { stream_->Run(stop_); });
    return std::nullopt;
  }

  void SetPayload(const PayloadNeed& need) {
    payload_ = need;
    if (stream_) stream_->SetPayload(need);
  }

 private:
  const int socket_;
  OpenedCapture opened_;
  std::unique_ptr<PacketStream> stream_;
  std::atomic<bool> stop_{false};
  PayloadNeed payload_{PayloadMode::kHeaders, 0};
  std::thread thread_;
};

// The owners roles: socket owner tables on request, and with kernel events
// the owner of one endpoint.
class OwnerService {
 public:
  OwnerService(int socket, std::unique_ptr<SocketOwnerTracker> tracker)
      : socket_(socket), owners_(clock_), tracker_(std::move(tracker)) {}

  bool Tracks() const { return tracker_ != nullptr; }
  bool SendFoundOwner(const FindOwnerRequest& asked) {
    FoundOwnerReply found;
    found.asked = asked;
    found.found = tracker_->FindOwner(asked.udp, asked.port, asked.localAddress, found.owner);
    found.ownerEvents = tracker_->OwnerEvents();
    reply_.clear();
    AppendFoundOwner(reply_, found);
    return WriteAll(socket_, reply_);
  }

  bool SendOwners() {
    reply_.clear();
    const bool read = owners_.ReadOwners(list_);
    if (!read) list_.clear();
    AppendOwnerList(reply_, list_, !read);
    return WriteAll(socket_, reply_);
  }
  bool SendStamp() {
    reply_.clear();
    AppendStamp(reply_, StampReply{owners_.TablesStamp()});
    return WriteAll(socket_, reply_);
  }

 private:
  const int socket_;
  SystemClock clock_;
  ProcOwnerSource owners_;
  std::unique_ptr<SocketOwnerTracker> tracker_;
  std::vector<SocketOwner> list_;
  std::vector<std::uint8_t> reply_;
};

int Serve(int socket, HelperRole role, std::unique_ptr<SocketOwnerTracker> tracker) {
  std::unique_ptr<CaptureSession> capture;
  std::unique_ptr<OwnerService> owners;
  if (role == HelperRole::kCapture) {
    capture = std::make_unique<CaptureSession>(socket);
  } else {
    owners = std::make_unique<OwnerService>(socket, std::move(tracker));
  }
  for (;;) {
    std::optional<CaptureRequest> request;
    const Read read = ReadRequest(socket, request);
    if (read == Read::kEnd) return kHelperDone;
    if (read == Read::kMalformed) return kHelperMalformed;
    if (std::holds_alternative<StopRequest>(*request)) return kHelperDone;
    if (capture) {
      if (const auto* open = std::get_if<OpenRequest>(&*request)) {
        if (const auto ended = capture->Open(open->interfaceName)) return *ended;
      } else if (const auto* payload = std::get_if<PayloadRequest>(&*request)) {
        capture->SetPayload(payload->need);
      } else {
        return kHelperMalformed;
      }
    } else if (std::holds_alternative<OwnersRequest>(*request)) {
      if (!owners->SendOwners()) return kHelperDone;
    } else if (std::holds_alternative<StampRequest>(*request)) {
      if (!owners->SendStamp()) return kHelperDone;
    } else if (const auto* find = std::get_if<FindOwnerRequest>(&*request); find && owners->Tracks()) {
      if (!owners->SendFoundOwner(*find)) return kHelperDone;
    } else {
      return kHelperMalformed;
    }
  }
}

}  // namespace

int RunRequestLoop(int socket) {
  std::optional<CaptureRequest> request;
  const Read read = ReadRequest(socket, request);
  if (read == Read::kEnd) return kHelperDone;
  const auto* hello = read == Read::kRequest ? std::get_if<HelloRequest>(&*request) : nullptr;
  if (hello == nullptr) return kHelperMalformed;

  const HelperRole role = hello->role;
  const std::uint64_t needed = role == HelperRole::kCapture ? kCaptureRights : kOwnerRights;
  const std::uint64_t loading = role == HelperRole::kOwnerEvents ? kEventRights : 0;
  const std::uint64_t missing = (needed | loading) & ~PermittedRights();
  std::vector<std::uint8_t> reply;
  AppendWelcome(reply, WelcomeReply{kCaptureProtocolVersion, missing});
  if (!WriteAll(socket, reply)) return kHelperDone;
  if (hello->version != kCaptureProtocolVersion) return kHelperMalformed;
  // The kernel's events are loaded with the rights that allows, which go
  // right after: the loaded program and its maps need none.
  std::unique_ptr<SocketOwnerTracker> tracker;
  std::string trackerError;
  if (role == HelperRole::kOwnerEvents) {
    tracker = StartBpfSocketTracker(trackerError, [needed] { return KeepOnlyRights(needed); });
  }
  if (!KeepOnlyRights(needed)) return kHelperFailed;
  if (role == HelperRole::kOwnerEvents) {
    reply.clear();
    // The count of owners learned travels with the answer, so that the
    // asking program knows when its remembered answers went stale.
    const int counter = tracker ? tracker->OwnerEventsDescriptor() : -1;
    if (tracker) {
      AppendOpened(reply, OpenedReply{});
    } else {
      AppendText(reply, MessageType::kOpenFailed, trackerError);
    }
    const bool sent = counter >= 0 ? WriteWithDescriptor(socket, reply, counter) : WriteAll(socket, reply);
    if (!sent || !tracker) return tracker ? kHelperDone : kHelperFailed;
  }
  return Serve(socket, role, std::move(tracker));
}

}  // namespace quorvel
