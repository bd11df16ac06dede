#include "support/packet_builder.h"

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

}  // namespace quorvel::testing
