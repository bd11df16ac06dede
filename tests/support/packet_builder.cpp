#include "support/packet_builder.h"

#include <stdexcept>

namespace quorvel::testing {
namespace {

void PutBigEndian16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(value);
}

}  // namespace

std::vector<std::uint8_t> BuildIpv4Packet(const PacketSpec& shape) {
  const std::size_t ipHeader = shape.headerWords * 4u;
  const std::size_t transportHeader = shape.protocol == 6 ? 20 : shape.protocol == 17 ? 8 : 0;
  std::vector<std::uint8_t> bytes(ipHeader + transportHeader + shape.payload.size(), 0);
  if (bytes.size() < 20) bytes.resize(20);
  bytes[0] = static_cast<std::uint8_t>(0x40 | (shape.headerWords & 0x0F));
  const int total = shape.totalLengthOverride >= 0 ? shape.totalLengthOverride
                                                  : static_cast<int>(bytes.size());
  PutBigEndian16(bytes, 2, static_cast<std::uint16_t>(total));
  bytes[8] = 64;
  bytes[9] = shape.protocol;
  std::memcpy(&bytes[12], &shape.source, 4);
  std::memcpy(&bytes[16], &shape.destination, 4);
  if (transportHeader > 0 && ipHeader + 4 <= bytes.size()) {
    PutBigEndian16(bytes, ipHeader, shape.sourcePort);
    PutBigEndian16(bytes, ipHeader + 2, shape.destinationPort);
    if (shape.protocol == 6) bytes[ipHeader + 12] = 0x50;
  }
  std::copy(shape.payload.begin(), shape.payload.end(), bytes.begin() + ipHeader + transportHeader);
  return bytes;
}

std::vector<std::uint8_t> BuildIpv6Packet(const Ipv6PacketSpec& shape) {
  std::vector<std::uint8_t> bytes(40, 0);
  bytes[0] = 0x60;
  bytes[7] = 64;
  std::copy(shape.source.bytes.begin(), shape.source.bytes.end(), bytes.begin() + 8);
  std::copy(shape.destination.bytes.begin(), shape.destination.bytes.end(), bytes.begin() + 24);
  std::size_t nextAt = 6;
  for (const ExtensionHeader& header : shape.extensions) {
    bytes[nextAt] = header.type;
    const std::size_t at = bytes.size();
    bytes.resize(at + header.bytes, 0);
    if (header.type == 51) {
      bytes[at + 1] = static_cast<std::uint8_t>(header.bytes / 4 - 2);
    } else if (header.type == 44) {
      PutBigEndian16(bytes, at + 2, header.fragmentField);
    } else {
      bytes[at + 1] = static_cast<std::uint8_t>(header.bytes / 8 - 1);
    }
    nextAt = at;
  }
  bytes[nextAt] = shape.protocol;
  const std::size_t transport = bytes.size();
  const std::size_t transportHeader =
      !shape.transportHeader ? 0 : shape.protocol == 6 ? 20 : shape.protocol == 17 ? 8 : 0;
  bytes.resize(transport + transportHeader, 0);
  if (transportHeader > 0) {
    PutBigEndian16(bytes, transport, shape.sourcePort);
    PutBigEndian16(bytes, transport + 2, shape.destinationPort);
    if (shape.protocol == 6) bytes[transport + 12] = 0x50;
  }
  bytes.insert(bytes.end(), shape.payload.begin(), shape.payload.end());
  const int payloadLength = shape.payloadLengthOverride >= 0 ? shape.payloadLengthOverride
                                                             : static_cast<int>(bytes.size() - 40);
  PutBigEndian16(bytes, 4, static_cast<std::uint16_t>(payloadLength));
  return bytes;
}

IpAddress Ipv6(std::string_view text) {
  const auto address = ParseIp(text);
  if (!address || !address->IsIpv6()) throw std::invalid_argument("not IPv6 text");
  return *address;
}

}  // namespace quorvel::testing
