#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::testing {

// Writes a capture file with libpcap's dump functions, so replay tests use
// files a real capture tool would also read.
class PcapWriter {
 public:
  // linkType: a DLT_* value; frames are written as given (link header included).
  PcapWriter(const std::string& path, int linkType);
  ~PcapWriter();
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  bool ok() const { return dumper_ != nullptr; }
  // capturedLength < frame.size() truncates what the file holds.
  void Write(const std::vector<std::uint8_t>& frame, long capturedLength = -1);

 private:
  void* pcap_ = nullptr;
  void* dumper_ = nullptr;
  long seconds_ = 1'700'000'000;
};

// An Ethernet frame (zero MAC addresses) around an IPv4 or IPv6 packet.
std::vector<std::uint8_t> EthernetFrame(const std::vector<std::uint8_t>& ipPacket, int vlanTags = 0);

// A frame of the link type around an IPv4 or IPv6 packet (Ethernet frames
// get zero to two VLAN tags).
std::vector<std::uint8_t> LinkFrame(int linkType, const std::vector<std::uint8_t>& ipPacket);

}  // namespace quorvel::testing
