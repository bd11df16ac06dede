#include "spy/pcapng_writer.h"

namespace quorvel {
namespace {

constexpr std::uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescriptionBlock = 1;
constexpr std::uint32_t kEnhancedPacketBlock = 6;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint16_t kLinkTypeRaw = 101;
constexpr std::uint32_t kSnapLength = 65535;  // an IPv4 packet never exceeds it
constexpr std::uint16_t kOptionEnd = 0;
constexpr std::uint16_t kOptionComment = 1;
constexpr std::uint16_t kOptionUserApplication = 4;

void Put16(std::string& out, std::uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}
void Put32(std::string& out, std::uint32_t value) {
  Put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
  Put16(out, static_cast<std::uint16_t>(value >> 16));
}
void Pad(std::string& out) {
  while (out.size() % 4 != 0) out.push_back('\0');
}
void PutOption(std::string& out, std::uint16_t code, std::string_view value) {
  Put16(out, code);
  Put16(out, static_cast<std::uint16_t>(value.size()));
  out.append(value);
  Pad(out);
}

// Type, total length, body, total length again; the body is padded to 32 bits.
void PutBlock(std::string& out, std::uint32_t type, std::string& body) {
  Pad(body);
  const auto length = static_cast<std::uint32_t>(body.size() + 12);
  Put32(out, type);
  Put32(out, length);
  out.append(body);
  Put32(out, length);
}

}  // namespace

std::string PcapngBytes(const std::deque<RecordedPacket>& packets, std::string_view comment) {
  std::string out;
  std::string body;
  Put32(body, kByteOrderMagic);
  Put16(body, 1);  // version 1.0
  Put16(body, 0);
  Put32(body, 0xFFFFFFFF);  // section length not given
  Put32(body, 0xFFFFFFFF);
  if (!comment.empty()) PutOption(body, kOptionComment, comment.substr(0, 0xFFFF));
  PutOption(body, kOptionUserApplication, "Quorvel Traffic Spy");
  PutOption(body, kOptionEnd, {});
  PutBlock(out, kSectionHeaderBlock, body);

  body.clear();
  Put16(body, kLinkTypeRaw);
  Put16(body, 0);
  Put32(body, kSnapLength);
  PutBlock(out, kInterfaceDescriptionBlock, body);

  for (const RecordedPacket& packet : packets) {
    body.clear();
    const auto time = static_cast<std::uint64_t>(packet.arrivalMicroseconds);
    Put32(body, 0);  // interface 0
    Put32(body, static_cast<std::uint32_t>(time >> 32));
    Put32(body, static_cast<std::uint32_t>(time & 0xFFFFFFFF));
    Put32(body, static_cast<std::uint32_t>(packet.bytes.size()));
    Put32(body, packet.originalLength);
    body.append(packet.bytes);
    PutBlock(out, kEnhancedPacketBlock, body);
  }
  return out;
}

}  // namespace quorvel
