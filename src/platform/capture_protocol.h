#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/owner_source.h"
#include "platform/packet_source.h"

namespace quorvel {

// What the monitor and quorvel-capture, the small program that holds the
// capture rights, say to each other over one stream socket pair.
//
// Every message is a frame: a 32-bit body length, then the body, whose first
// byte is the message type. Numbers are in the machine's own byte order (both
// ends run on one machine); texts are a 16-bit length and their bytes.
//
// Requests, to the helper:      Replies, from the helper:
//   kHello    version, role        kWelcome       version, rights it lacks
//   kOpen     interface name       kOpened        promiscuous refused
//   kPayload  mode, local address  kOpenFailed    reason
//   kOwners   -                    kPackets       stats, then packet records
//   kStamp    -                    kCaptureFailed reason
//   kStop     -                    kOwnerList     last, failed, owner records
//   kFindOwner udp, port, address  kStampReply    has, stamp
//                                  kFoundOwner    the request's key, found,
//                                                 events, owner
// A packet record: arrival time (microseconds since 1970), the number of
// bytes captured from the IP header on, the number of bytes carried, and the
// carried bytes: all of them, or in headers-only mode at most kHeaderBytes,
// or in names mode all of those that may carry a host name and at most
// kHeaderBytes of the others. The local address is 0 except in names mode.
inline constexpr std::uint32_t kCaptureProtocolVersion = 1;
inline constexpr std::size_t kFrameHeaderBytes = 4;
inline constexpr std::size_t kMaxRequestBytes = 32;
// Replies are cut into frames of about this size; a frame is never more
// than kMaxReplyBytes.
inline constexpr std::size_t kReplyChunkBytes = 256 * 1024;
inline constexpr std::size_t kMaxReplyBytes = 1024 * 1024;
// Enough for an IPv4 header with options and a TCP header with options, or an
// IPv6 header with up to 84 bytes of extension headers and the ports.
inline constexpr std::size_t kHeaderBytes = 128;
inline constexpr std::size_t kMaxInterfaceName = 15;
inline constexpr std::size_t kMaxOwnerText = 4096;

enum class MessageType : std::uint8_t {
  kHello = 1,
  kOpen = 2,
  kPayload = 3,
  kOwners = 4,
  kStamp = 5,
  kStop = 6,
  kFindOwner = 7,
  kWelcome = 0x81,
  kOpened = 0x82,
  kOpenFailed = 0x83,
  kPackets = 0x84,
  kCaptureFailed = 0x85,
  kOwnerList = 0x86,
  kStampReply = 0x87,
  kFoundOwner = 0x88,
};

// A helper either captures on one interface or names socket owners; each
// keeps only the rights its role needs. kOwnerEvents names owners too, and
// first loads the kernel's socket events, answering kOpened or kOpenFailed
// after its welcome.
enum class HelperRole : std::uint8_t { kCapture = 1, kOwners = 2, kOwnerEvents = 3 };

struct HelloRequest {
  std::uint32_t version = kCaptureProtocolVersion;
  HelperRole role = HelperRole::kCapture;
};
struct OpenRequest {
  std::string interfaceName;
};
struct PayloadRequest {
  PayloadNeed need{PayloadMode::kHeaders, 0};
};
struct OwnersRequest {};
struct StampRequest {};
struct StopRequest {};
// The process that gave a local endpoint its port, from the kernel's events.
struct FindOwnerRequest {
  bool udp = false;
  std::uint16_t port = 0;  // never 0
  Ipv4Address localAddress = 0;
  bool operator==(const FindOwnerRequest&) const = default;
};
using CaptureRequest = std::variant<HelloRequest, OpenRequest, PayloadRequest, OwnersRequest, StampRequest,
                                    StopRequest, FindOwnerRequest>;

// Strict: the body must be exactly one well-formed request with every field
// in range; anything else is nullopt.
std::optional<CaptureRequest> ParseRequest(std::span<const std::uint8_t> body);
// Appends the request as one frame.
void AppendRequest(std::vector<std::uint8_t>& out, const CaptureRequest& request);

struct CaptureCounters {
  std::uint64_t kernelReceived = 0;
  std::uint64_t kernelDropped = 0;
  std::uint64_t helperDropped = 0;  // packets the helper could not hand over
};

struct WelcomeReply {
  std::uint32_t version = 0;
  std::uint64_t missingRights = 0;  // capability bits, as the kernel numbers them
};
struct OpenedReply {
  bool promiscuousFailed = false;
};
struct OpenFailedReply {
  std::string error;
};
struct PacketsReply {
  CaptureCounters counters;
  std::span<const std::uint8_t> records;  // checked; walk with ForEachPacketRecord
};
struct CaptureFailedReply {
  std::string error;
};
struct OwnerListReply {
  bool last = false;
  bool failed = false;  // the tables could not be read
  std::vector<SocketOwner> owners;
};
struct StampReply {
  std::optional<std::uint64_t> stamp;
};
struct FoundOwnerReply {
  FindOwnerRequest asked;       // replies come in order; a late one is told apart by it
  bool found = false;
  std::uint64_t ownerEvents = 0;  // owners learned so far
  SocketOwner owner;            // pid, processFound, name and path when found
};
using CaptureReply = std::variant<WelcomeReply, OpenedReply, OpenFailedReply, PacketsReply, CaptureFailedReply,
                                  OwnerListReply, StampReply, FoundOwnerReply>;

// Strict like ParseRequest. A PacketsReply points into `body`.
std::optional<CaptureReply> ParseReply(std::span<const std::uint8_t> body);

struct PacketRecord {
  std::int64_t arrivalMicroseconds = 0;
  std::uint32_t received = 0;
  std::span<const std::uint8_t> bytes;
};

// Calls `visit` for each record of a PacketsReply.
template <typename Visit>
void ForEachPacketRecord(std::span<const std::uint8_t> records, Visit&& visit);

// Builders of replies, each appending whole frames.
void AppendWelcome(std::vector<std::uint8_t>& out, const WelcomeReply& reply);
void AppendOpened(std::vector<std::uint8_t>& out, const OpenedReply& reply);
void AppendText(std::vector<std::uint8_t>& out, MessageType type, const std::string& text);
void AppendStamp(std::vector<std::uint8_t>& out, const StampReply& reply);
void AppendFoundOwner(std::vector<std::uint8_t>& out, const FoundOwnerReply& reply);
// The owners in frames of about kReplyChunkBytes, the last one marked.
void AppendOwnerList(std::vector<std::uint8_t>& out, const std::vector<SocketOwner>& owners, bool failed);

// Packet frames built in place: Begin, records, then End. The counters are
// written at End.
std::size_t BeginPackets(std::vector<std::uint8_t>& out);
inline constexpr std::size_t kPacketRecordHeaderBytes = 16;
void AppendPacketRecord(std::vector<std::uint8_t>& out, std::int64_t arrivalMicroseconds, std::uint32_t received,
                        std::span<const std::uint8_t> bytes);
void EndPackets(std::vector<std::uint8_t>& out, std::size_t frameStart, const CaptureCounters& counters);
inline constexpr std::size_t kEmptyPacketsFrameBytes = kFrameHeaderBytes + 1 + 3 * 8;

// Splits a received byte stream into frame bodies.
class FrameReader {
 public:
  explicit FrameReader(std::size_t maxBody) : maxBody_(maxBody) {}
  // Room for at least `bytes` more received bytes.
  std::span<std::uint8_t> Room(std::size_t bytes);
  void Received(std::size_t bytes) { end_ += bytes; }
  enum class Next { kFrame, kMore, kMalformed };
  // The next whole frame's body, valid until the next Room call.
  Next Take(std::span<const std::uint8_t>& body);

 private:
  std::size_t maxBody_;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

template <typename Visit>
void ForEachPacketRecord(std::span<const std::uint8_t> records, Visit&& visit) {
  std::size_t at = 0;
  while (at + kPacketRecordHeaderBytes <= records.size()) {
    PacketRecord record;
    std::uint32_t carried = 0;
    std::memcpy(&record.arrivalMicroseconds, records.data() + at, 8);
    std::memcpy(&record.received, records.data() + at + 8, 4);
    std::memcpy(&carried, records.data() + at + 12, 4);
    at += kPacketRecordHeaderBytes;
    record.bytes = records.subspan(at, carried);
    at += carried;
    visit(record);
  }
}

}  // namespace quorvel
