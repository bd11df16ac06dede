#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/ipv4.h"

namespace quorvel::ipfix {

// One bidirectional flow record: forward is the local end's upload,
// reverse its download.
struct FlowRecord {
  Ipv4Address localAddress = 0;  // wire order
  Ipv4Address remoteAddress = 0;
  std::uint16_t localPort = 0;
  std::uint16_t remotePort = 0;
  std::uint8_t protocol = 0;
  std::int64_t startMilliseconds = 0;  // since 1970 UTC
  std::int64_t endMilliseconds = 0;
  std::uint64_t uploadOctets = 0;
  std::uint64_t uploadPackets = 0;
  std::uint64_t downloadOctets = 0;
  std::uint64_t downloadPackets = 0;
  std::string applicationName;  // UTF-8; cut to kMaxApplicationNameBytes
};

inline constexpr std::uint16_t kIpv4TemplateId = 256;
// Keeps every message inside one unfragmented datagram on common paths.
inline constexpr std::size_t kMaxMessageBytes = 1400;
inline constexpr std::size_t kMaxApplicationNameBytes = 254;

// The set of templates an exporter announces (one template set).
std::string TemplateSet();

// Builds IPFIX messages of one observation domain. The sequence number
// counts the data records sent before each message.
class MessageBuilder {
 public:
  explicit MessageBuilder(std::uint32_t observationDomain) : observationDomain_(observationDomain) {}

  std::string TemplateMessage(std::uint32_t exportSeconds) const;
  // The records packed into as few messages as fit kMaxMessageBytes.
  std::vector<std::string> DataMessages(const std::vector<FlowRecord>& records, std::uint32_t exportSeconds);
  std::uint32_t Sequence() const { return sequence_; }

 private:
  std::string Header(std::size_t length, std::uint32_t exportSeconds) const;

  const std::uint32_t observationDomain_;
  std::uint32_t sequence_ = 0;
};

}  // namespace quorvel::ipfix
