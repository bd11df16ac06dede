#include "platform/capture_protocol.h"

#include <cstring>
#include <type_traits>

namespace quorvel {
namespace {

// Reads fields in order; any read past the end marks the whole body bad.
class Fields {
 public:
  explicit Fields(std::span<const std::uint8_t> body) : body_(body) {}

  template <typename T>
  T Get() {
    T value{};
    if (!Has(sizeof value)) return value;
    std::memcpy(&value, body_.data() + at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  std::span<const std::uint8_t> Bytes(std::size_t count) {
    if (!Has(count)) return {};
    const auto bytes = body_.subspan(at_, count);
    at_ += count;
    return bytes;
  }
  std::string Text(std::size_t maxBytes) {
    const auto length = Get<std::uint16_t>();
    if (length > maxBytes) bad_ = true;
    const auto bytes = Bytes(bad_ ? 0 : length);
    return std::string(bytes.begin(), bytes.end());
  }
  std::span<const std::uint8_t> Rest() { return Bytes(body_.size() - at_); }
  // True when every read fitted and nothing is left over.
  bool Done() const { return !bad_ && at_ == body_.size(); }
  bool Bad() const { return bad_; }
  void MarkBad() { bad_ = true; }

 private:
  bool Has(std::size_t count) {
    if (bad_ || body_.size() - at_ < count) bad_ = true;
    return !bad_;
  }
  std::span<const std::uint8_t> body_;
  std::size_t at_ = 0;
  bool bad_ = false;
};

class Writer {
 public:
  explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
  template <typename T>
  void Put(T value) {
    static_assert(std::is_trivially_copyable_v<T>);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    out_.insert(out_.end(), bytes, bytes + sizeof value);
  }
  void Text(const std::string& text, std::size_t maxBytes) {
    const std::size_t length = std::min(text.size(), maxBytes);
    Put(static_cast<std::uint16_t>(length));
    out_.insert(out_.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
  }

 private:
  std::vector<std::uint8_t>& out_;
};

std::size_t BeginFrame(std::vector<std::uint8_t>& out, MessageType type) {
  const std::size_t start = out.size();
  out.resize(start + kFrameHeaderBytes);
  out.push_back(static_cast<std::uint8_t>(type));
  return start;
}

void EndFrame(std::vector<std::uint8_t>& out, std::size_t start) {
  const auto length = static_cast<std::uint32_t>(out.size() - start - kFrameHeaderBytes);
  std::memcpy(out.data() + start, &length, sizeof length);
}

// Interface names as the kernel allows them: printable, no blank, no slash.
bool IsInterfaceName(std::span<const std::uint8_t> name) {
  if (name.empty() || name.size() > kMaxInterfaceName) return false;
  for (const std::uint8_t byte : name) {
    if (byte <= ' ' || byte >= 0x7F || byte == '/' || byte == ':') return false;
  }
  return true;
}

std::optional<FindOwnerRequest> ParseFindOwner(Fields& fields) {
  FindOwnerRequest asked;
  const auto udp = fields.Get<std::uint8_t>();
  asked.port = fields.Get<std::uint16_t>();
  asked.localAddress = fields.Get<Ipv4Address>();
  if (fields.Bad() || udp > 1 || asked.port == 0) return std::nullopt;
  asked.udp = udp == 1;
  return asked;
}

void PutFindOwner(Writer& writer, const FindOwnerRequest& asked) {
  writer.Put(static_cast<std::uint8_t>(asked.udp ? 1 : 0));
  writer.Put(asked.port);
  writer.Put(asked.localAddress);
}

template <typename T>
std::optional<T> Finished(const Fields& fields, T value) {
  if (!fields.Done()) return std::nullopt;
  return value;
}

std::optional<CaptureRequest> ParseRequestFields(MessageType type, Fields& fields) {
  switch (type) {
    case MessageType::kHello: {
      HelloRequest hello;
      hello.version = fields.Get<std::uint32_t>();
      const auto role = fields.Get<std::uint8_t>();
      if (role < static_cast<std::uint8_t>(HelperRole::kCapture) ||
          role > static_cast<std::uint8_t>(HelperRole::kOwnerEvents)) {
        return std::nullopt;
      }
      hello.role = static_cast<HelperRole>(role);
      return Finished<CaptureRequest>(fields, hello);
    }
    case MessageType::kOpen: {
      const auto length = fields.Get<std::uint8_t>();
      const auto name = fields.Bytes(length);
      if (!IsInterfaceName(name)) return std::nullopt;
      return Finished<CaptureRequest>(fields, OpenRequest{std::string(name.begin(), name.end())});
    }
    case MessageType::kPayload: {
      const auto mode = fields.Get<std::uint8_t>();
      const auto local = fields.Get<std::uint32_t>();
      if (mode > static_cast<std::uint8_t>(PayloadMode::kNames)) return std::nullopt;
      // Names mode needs the local address, the others have none.
      if ((mode == static_cast<std::uint8_t>(PayloadMode::kNames)) != (local != 0)) return std::nullopt;
      return Finished<CaptureRequest>(fields, PayloadRequest{{static_cast<PayloadMode>(mode), local}});
    }
    case MessageType::kOwners:
      return Finished<CaptureRequest>(fields, OwnersRequest{});
    case MessageType::kStamp:
      return Finished<CaptureRequest>(fields, StampRequest{});
    case MessageType::kStop:
      return Finished<CaptureRequest>(fields, StopRequest{});
    case MessageType::kFindOwner: {
      const auto asked = ParseFindOwner(fields);
      if (!asked) return std::nullopt;
      return Finished<CaptureRequest>(fields, *asked);
    }
    default:
      return std::nullopt;
  }
}

// Checks the packet records: each whole, none carrying more than it received.
bool RecordsFit(std::span<const std::uint8_t> records) {
  std::size_t at = 0;
  while (at < records.size()) {
    if (records.size() - at < kPacketRecordHeaderBytes) return false;
    std::uint32_t received = 0;
    std::uint32_t carried = 0;
    std::memcpy(&received, records.data() + at + 8, 4);
    std::memcpy(&carried, records.data() + at + 12, 4);
    at += kPacketRecordHeaderBytes;
    if (carried > received || records.size() - at < carried) return false;
    at += carried;
  }
  return true;
}

std::optional<CaptureReply> ParseOwnerList(Fields& fields) {
  OwnerListReply list;
  const auto flags = fields.Get<std::uint8_t>();
  if (flags > 3) return std::nullopt;
  list.last = (flags & 1) != 0;
  list.failed = (flags & 2) != 0;
  const auto count = fields.Get<std::uint32_t>();
  // Each owner takes at least 11 bytes: no count may promise more.
  if (fields.Bad() || count > kMaxReplyBytes / 11) return std::nullopt;
  list.owners.reserve(count);
  for (std::uint32_t i = 0; i < count && !fields.Bad(); ++i) {
    SocketOwner owner;
    owner.port = fields.Get<std::uint16_t>();
    const auto ownerFlags = fields.Get<std::uint8_t>();
    if (ownerFlags > 3) fields.MarkBad();
    owner.udp = (ownerFlags & 1) != 0;
    owner.processFound = (ownerFlags & 2) != 0;
    owner.pid = fields.Get<std::int32_t>();
    if (owner.pid < 0) fields.MarkBad();
    owner.name = fields.Text(kMaxOwnerText);
    owner.path = fields.Text(kMaxOwnerText);
    list.owners.push_back(std::move(owner));
  }
  return Finished<CaptureReply>(fields, std::move(list));
}

std::optional<CaptureReply> ParseReplyFields(MessageType type, Fields& fields) {
  switch (type) {
    case MessageType::kWelcome: {
      WelcomeReply welcome;
      welcome.version = fields.Get<std::uint32_t>();
      welcome.missingRights = fields.Get<std::uint64_t>();
      return Finished<CaptureReply>(fields, welcome);
    }
    case MessageType::kOpened: {
      const auto refused = fields.Get<std::uint8_t>();
      if (refused > 1) return std::nullopt;
      return Finished<CaptureReply>(fields, OpenedReply{refused == 1});
    }
    case MessageType::kOpenFailed:
    case MessageType::kCaptureFailed: {
      std::string error = fields.Text(kMaxOwnerText);
      if (type == MessageType::kOpenFailed) return Finished<CaptureReply>(fields, OpenFailedReply{std::move(error)});
      return Finished<CaptureReply>(fields, CaptureFailedReply{std::move(error)});
    }
    case MessageType::kPackets: {
      PacketsReply packets;
      packets.counters.kernelReceived = fields.Get<std::uint64_t>();
      packets.counters.kernelDropped = fields.Get<std::uint64_t>();
      packets.counters.helperDropped = fields.Get<std::uint64_t>();
      packets.records = fields.Rest();
      if (!RecordsFit(packets.records)) return std::nullopt;
      return Finished<CaptureReply>(fields, packets);
    }
    case MessageType::kOwnerList:
      return ParseOwnerList(fields);
    case MessageType::kStampReply: {
      const auto has = fields.Get<std::uint8_t>();
      const auto stamp = fields.Get<std::uint64_t>();
      if (has > 1) return std::nullopt;
      return Finished<CaptureReply>(fields, StampReply{has == 1 ? std::optional(stamp) : std::nullopt});
    }
    case MessageType::kFoundOwner: {
      FoundOwnerReply found;
      const auto asked = ParseFindOwner(fields);
      const auto flags = fields.Get<std::uint8_t>();
      found.ownerEvents = fields.Get<std::uint64_t>();
      found.owner.pid = fields.Get<std::int32_t>();
      found.owner.name = fields.Text(kMaxOwnerText);
      found.owner.path = fields.Text(kMaxOwnerText);
      if (!asked || flags > 3 || found.owner.pid < 0) return std::nullopt;
      found.asked = *asked;
      found.found = (flags & 1) != 0;
      found.owner.processFound = (flags & 2) != 0;
      found.owner.udp = asked->udp;
      found.owner.port = asked->port;
      return Finished<CaptureReply>(fields, std::move(found));
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<CaptureRequest> ParseRequest(std::span<const std::uint8_t> body) {
  if (body.empty() || body.size() > kMaxRequestBytes) return std::nullopt;
  Fields fields(body.subspan(1));
  return ParseRequestFields(static_cast<MessageType>(body[0]), fields);
}

void AppendRequest(std::vector<std::uint8_t>& out, const CaptureRequest& request) {
  Writer writer(out);
  std::visit(
      [&](const auto& value) {
        using T = std::decay_t<decltype(value)>;
        std::size_t start = 0;
        if constexpr (std::is_same_v<T, HelloRequest>) {
          start = BeginFrame(out, MessageType::kHello);
          writer.Put(value.version);
          writer.Put(static_cast<std::uint8_t>(value.role));
        } else if constexpr (std::is_same_v<T, OpenRequest>) {
          start = BeginFrame(out, MessageType::kOpen);
          writer.Put(static_cast<std::uint8_t>(value.interfaceName.size()));
          out.insert(out.end(), value.interfaceName.begin(), value.interfaceName.end());
        } else if constexpr (std::is_same_v<T, PayloadRequest>) {
          start = BeginFrame(out, MessageType::kPayload);
          writer.Put(static_cast<std::uint8_t>(value.need.mode));
          writer.Put(value.need.localAddress);
        } else if constexpr (std::is_same_v<T, OwnersRequest>) {
          start = BeginFrame(out, MessageType::kOwners);
        } else if constexpr (std::is_same_v<T, StampRequest>) {
          start = BeginFrame(out, MessageType::kStamp);
        } else if constexpr (std::is_same_v<T, FindOwnerRequest>) {
          start = BeginFrame(out, MessageType::kFindOwner);
          PutFindOwner(writer, value);
        } else {
          start = BeginFrame(out, MessageType::kStop);
        }
        EndFrame(out, start);
      },
      request);
}

std::optional<CaptureReply> ParseReply(std::span<const std::uint8_t> body) {
  if (body.empty() || body.size() > kMaxReplyBytes) return std::nullopt;
  Fields fields(body.subspan(1));
  return ParseReplyFields(static_cast<MessageType>(body[0]), fields);
}

void AppendWelcome(std::vector<std::uint8_t>& out, const WelcomeReply& reply) {
  const std::size_t start = BeginFrame(out, MessageType::kWelcome);
  Writer writer(out);
  writer.Put(reply.version);
  writer.Put(reply.missingRights);
  EndFrame(out, start);
}

void AppendOpened(std::vector<std::uint8_t>& out, const OpenedReply& reply) {
  const std::size_t start = BeginFrame(out, MessageType::kOpened);
  Writer(out).Put(static_cast<std::uint8_t>(reply.promiscuousFailed ? 1 : 0));
  EndFrame(out, start);
}

void AppendText(std::vector<std::uint8_t>& out, MessageType type, const std::string& text) {
  const std::size_t start = BeginFrame(out, type);
  Writer(out).Text(text, kMaxOwnerText);
  EndFrame(out, start);
}

void AppendStamp(std::vector<std::uint8_t>& out, const StampReply& reply) {
  const std::size_t start = BeginFrame(out, MessageType::kStampReply);
  Writer writer(out);
  writer.Put(static_cast<std::uint8_t>(reply.stamp ? 1 : 0));
  writer.Put(reply.stamp.value_or(0));
  EndFrame(out, start);
}

void AppendFoundOwner(std::vector<std::uint8_t>& out, const FoundOwnerReply& reply) {
  const std::size_t start = BeginFrame(out, MessageType::kFoundOwner);
  Writer writer(out);
  PutFindOwner(writer, reply.asked);
  writer.Put(static_cast<std::uint8_t>((reply.found ? 1 : 0) | (reply.owner.processFound ? 2 : 0)));
  writer.Put(reply.ownerEvents);
  writer.Put(static_cast<std::int32_t>(reply.owner.pid));
  writer.Text(reply.owner.name, kMaxOwnerText);
  writer.Text(reply.owner.path, kMaxOwnerText);
  EndFrame(out, start);
}

void AppendOwnerList(std::vector<std::uint8_t>& out, const std::vector<SocketOwner>& owners, bool failed) {
  Writer writer(out);
  std::size_t next = 0;
  do {
    const std::size_t start = BeginFrame(out, MessageType::kOwnerList);
    const std::size_t flagsAt = out.size();
    writer.Put(std::uint8_t{0});
    const std::size_t countAt = out.size();
    writer.Put(std::uint32_t{0});
    std::uint32_t count = 0;
    for (; next < owners.size() && out.size() - start < kReplyChunkBytes; ++next, ++count) {
      const SocketOwner& owner = owners[next];
      writer.Put(owner.port);
      writer.Put(static_cast<std::uint8_t>((owner.udp ? 1 : 0) | (owner.processFound ? 2 : 0)));
      writer.Put(static_cast<std::int32_t>(owner.pid));
      writer.Text(owner.name, kMaxOwnerText);
      writer.Text(owner.path, kMaxOwnerText);
    }
    out[flagsAt] = static_cast<std::uint8_t>((next == owners.size() ? 1 : 0) | (failed ? 2 : 0));
    std::memcpy(out.data() + countAt, &count, sizeof count);
    EndFrame(out, start);
  } while (next < owners.size());
}

std::size_t BeginPackets(std::vector<std::uint8_t>& out) {
  const std::size_t start = BeginFrame(out, MessageType::kPackets);
  out.resize(out.size() + 3 * sizeof(std::uint64_t));
  return start;
}

void AppendPacketRecord(std::vector<std::uint8_t>& out, std::int64_t arrivalMicroseconds, std::uint32_t received,
                        std::span<const std::uint8_t> bytes) {
  const auto carried = static_cast<std::uint32_t>(bytes.size());
  std::uint8_t header[kPacketRecordHeaderBytes];
  std::memcpy(header, &arrivalMicroseconds, 8);
  std::memcpy(header + 8, &received, 4);
  std::memcpy(header + 12, &carried, 4);
  // Appended by copy: growing by resize would first clear every byte.
  out.insert(out.end(), header, header + kPacketRecordHeaderBytes);
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void EndPackets(std::vector<std::uint8_t>& out, std::size_t frameStart, const CaptureCounters& counters) {
  std::uint8_t* fields = out.data() + frameStart + kFrameHeaderBytes + 1;
  std::memcpy(fields, &counters.kernelReceived, 8);
  std::memcpy(fields + 8, &counters.kernelDropped, 8);
  std::memcpy(fields + 16, &counters.helperDropped, 8);
  EndFrame(out, frameStart);
}

std::span<std::uint8_t> FrameReader::Room(std::size_t bytes) {
  if (begin_ == end_) {
    begin_ = end_ = 0;
  } else if (begin_ > 0 && buffer_.size() - end_ < bytes) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() - end_ < bytes) buffer_.resize(end_ + bytes);
  return std::span<std::uint8_t>(buffer_.data() + end_, buffer_.size() - end_);
}

FrameReader::Next FrameReader::Take(std::span<const std::uint8_t>& body) {
  const std::size_t waiting = end_ - begin_;
  if (waiting < kFrameHeaderBytes) return Next::kMore;
  std::uint32_t length = 0;
  std::memcpy(&length, buffer_.data() + begin_, sizeof length);
  if (length == 0 || length > maxBody_) return Next::kMalformed;
  if (waiting - kFrameHeaderBytes < length) return Next::kMore;
  body = std::span<const std::uint8_t>(buffer_.data() + begin_ + kFrameHeaderBytes, length);
  begin_ += kFrameHeaderBytes + length;
  return Next::kFrame;
}

}  // namespace quorvel
