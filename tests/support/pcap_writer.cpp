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

std::vector<std::uint8_t> EthernetFrame(const std::vector<std::uint8_t>& ipv4Packet,
                                        int vlanTags) {
  std::vector<std::uint8_t> frame(12, 0);
  for (int i = 0; i < vlanTags; ++i) {
    frame.insert(frame.end(), {0x81, 0x00, 0x00, static_cast<std::uint8_t>(10 + i)});
  }
  frame.insert(frame.end(), {0x08, 0x00});
  frame.insert(frame.end(), ipv4Packet.begin(), ipv4Packet.end());
  return frame;
}

}  // namespace quorvel::testing
