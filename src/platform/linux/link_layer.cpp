#include "platform/linux/link_layer.h"

#include <pcap/dlt.h>

namespace quorvel {
namespace {

constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeIpv6 = 0x86DD;
constexpr std::uint16_t kEtherTypeVlan = 0x8100;     // 802.1Q
constexpr std::uint16_t kEtherTypeQinQ = 0x88A8;     // 802.1ad service tag
constexpr std::uint16_t kEtherTypeOldQinQ = 0x9100;  // pre-standard double tagging
constexpr int kMaxVlanTags = 2;
constexpr std::uint32_t kFamilyInet = 2;  // AF_INET, the same on every system that writes DLT_NULL
// AF_INET6 differs: 24 on NetBSD and OpenBSD, 28 on FreeBSD and DragonFly,
// 30 on macOS.
constexpr std::uint32_t kFamiliesInet6[] = {24, 28, 30};

std::uint16_t ReadBig16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

bool IsIpEtherType(std::uint16_t type) { return type == kEtherTypeIpv4 || type == kEtherTypeIpv6; }

bool IsIpFamily(std::uint32_t family) {
  if (family == kFamilyInet) return true;
  for (const std::uint32_t inet6 : kFamiliesInet6) {
    if (family == inet6) return true;
  }
  return false;
}

using Packet = std::optional<std::span<const std::uint8_t>>;

// The rest of the frame after `offset`, if anything is left.
Packet After(const std::uint8_t* frame, std::size_t captured, std::size_t offset) {
  if (captured <= offset) return std::nullopt;
  return std::span<const std::uint8_t>(frame + offset, captured - offset);
}

Packet StripEthernet(const std::uint8_t* frame, std::size_t captured) {
  std::size_t typeOffset = 12;
  for (int tags = 0;; ++tags) {
    if (captured < typeOffset + 2) return std::nullopt;
    const std::uint16_t type = ReadBig16(frame + typeOffset);
    if (IsIpEtherType(type)) return After(frame, captured, typeOffset + 2);
    const bool tag = type == kEtherTypeVlan || type == kEtherTypeQinQ || type == kEtherTypeOldQinQ;
    if (!tag || tags == kMaxVlanTags) return std::nullopt;
    typeOffset += 4;
  }
}

// DLT_NULL and DLT_LOOP: a 4-byte address family, in the capturing host's
// byte order (NULL) or network order (LOOP); files from either kind of host
// exist, so both orders are accepted for both.
Packet StripLoopback(const std::uint8_t* frame, std::size_t captured) {
  if (captured < 4) return std::nullopt;
  const std::uint32_t little = frame[0] | (frame[1] << 8) | (frame[2] << 16) |
                               (static_cast<std::uint32_t>(frame[3]) << 24);
  const std::uint32_t big = (static_cast<std::uint32_t>(frame[0]) << 24) | (frame[1] << 16) |
                            (frame[2] << 8) | frame[3];
  if (!IsIpFamily(little) && !IsIpFamily(big)) return std::nullopt;
  return After(frame, captured, 4);
}

Packet StripRaw(const std::uint8_t* frame, std::size_t captured) {
  // Raw IP carries IPv4 or IPv6; the version nibble tells them apart.
  if (captured == 0) return std::nullopt;
  const int version = frame[0] >> 4;
  if (version != 4 && version != 6) return std::nullopt;
  return After(frame, captured, 0);
}

}  // namespace

bool IsSupportedLinkType(int linkType) {
  switch (linkType) {
    case DLT_EN10MB:
    case DLT_LINUX_SLL:
    case DLT_LINUX_SLL2:
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6:
    case DLT_NULL:
    case DLT_LOOP:
      return true;
    default:
      return false;
  }
}

Packet StripLinkLayer(int linkType, const std::uint8_t* frame, std::size_t captured) {
  if (frame == nullptr) return std::nullopt;
  switch (linkType) {
    case DLT_EN10MB:
      return StripEthernet(frame, captured);
    case DLT_LINUX_SLL:  // 16-byte cooked header, protocol in its last two bytes
      if (captured < 16 || !IsIpEtherType(ReadBig16(frame + 14))) return std::nullopt;
      return After(frame, captured, 16);
    case DLT_LINUX_SLL2:  // 20-byte cooked header, protocol in its first two bytes
      if (captured < 20 || !IsIpEtherType(ReadBig16(frame))) return std::nullopt;
      return After(frame, captured, 20);
    case DLT_RAW:
      return StripRaw(frame, captured);
    case DLT_IPV4:
    case DLT_IPV6:
      return After(frame, captured, 0);
    case DLT_NULL:
    case DLT_LOOP:
      return StripLoopback(frame, captured);
    default:
      return std::nullopt;
  }
}

}  // namespace quorvel
