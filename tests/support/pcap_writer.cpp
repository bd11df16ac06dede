#include "support/pcap_writer.h"

#include <pcap/pcap.h>

namespace quorvel::testing {

PcapWriter::PcapWriter(const std::string& path, int linkType) {
  pcap_t* pcap = pcap_open_dead(linkType, 262144);
  pcap_ = pcap;
  if (pcap) dumper_ = pcap_dump_open(pcap, path.c_str());
}

PcapWriter::~PcapWriter() {
  if (dumper_) pcap_dump_close(static_cast<pcap_dumper_t*>(dumper_));
  if (pcap_) pcap_close(static_cast<pcap_t*>(pcap_));
}

void PcapWriter::Write(const std::vector<std::uint8_t>& frame, long capturedLength) {
  if (!dumper_) return;
  pcap_pkthdr header{};
  header.ts.tv_sec = seconds_++;
  header.len = static_cast<bpf_u_int32>(frame.size());
  header.caplen = capturedLength < 0 ? header.len : static_cast<bpf_u_int32>(capturedLength);
  pcap_dump(static_cast<u_char*>(dumper_), &header, frame.data());
}

std::vector<std::uint8_t> EthernetFrame(const std::vector<std::uint8_t>& ipPacket, int vlanTags) {
  std::vector<std::uint8_t> frame(12, 0);
  for (int i = 0; i < vlanTags; ++i) {
    frame.insert(frame.end(), {0x81, 0x00, 0x00, static_cast<std::uint8_t>(10 + i)});
  }
  const bool ipv6 = !ipPacket.empty() && (ipPacket[0] >> 4) == 6;
  frame.insert(frame.end(), {static_cast<std::uint8_t>(ipv6 ? 0x86 : 0x08), static_cast<std::uint8_t>(ipv6 ? 0xDD : 0x00)});
  frame.insert(frame.end(), ipPacket.begin(), ipPacket.end());
  return frame;
}

std::vector<std::uint8_t> LinkFrame(int linkType, const std::vector<std::uint8_t>& ipPacket) {
  const bool ipv6 = !ipPacket.empty() && (ipPacket[0] >> 4) == 6;
  const std::uint8_t typeHigh = ipv6 ? 0x86 : 0x08;
  const std::uint8_t typeLow = ipv6 ? 0xDD : 0x00;
  std::vector<std::uint8_t> frame;
  switch (linkType) {
    case DLT_EN10MB:
      return EthernetFrame(ipPacket, ipPacket.size() % 3);
    case DLT_LINUX_SLL:
      frame.assign(16, 0);
      frame[14] = typeHigh;
      frame[15] = typeLow;
      break;
    case DLT_LINUX_SLL2:
      frame.assign(20, 0);
      frame[0] = typeHigh;
      frame[1] = typeLow;
      break;
    case DLT_NULL:  // as a macOS host writes it: its own byte order, AF_INET6 = 30
      frame = {static_cast<std::uint8_t>(ipv6 ? 30 : 2), 0, 0, 0};
      break;
    default:  // DLT_RAW, DLT_IPV4, DLT_IPV6: the packet alone
      break;
  }
  frame.insert(frame.end(), ipPacket.begin(), ipPacket.end());
  return frame;
}

}  // namespace quorvel::testing
