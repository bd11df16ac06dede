#include "tools/export/ipfix_encoder.h"

#include <cstring>
#include <string_view>

namespace quorvel::ipfix {
namespace {

constexpr std::uint16_t kVersion = 10;
constexpr std::uint16_t kTemplateSetId = 2;
constexpr std::size_t kMessageHeaderBytes = 16;
constexpr std::uint16_t kVariableLength = 0xFFFF;
// Reverse elements: the forward element's number under this enterprise
// number, with the enterprise bit set.
constexpr std::uint32_t kReverseEnterprise = 29305;
constexpr std::uint16_t kEnterpriseBit = 0x8000;

void Put8(std::string& out, std::uint8_t value) { out.push_back(static_cast<char>(value)); }
void Put16(std::string& out, std::uint16_t value) {
  Put8(out, static_cast<std::uint8_t>(value >> 8));
  Put8(out, static_cast<std::uint8_t>(value));
}
void Put32(std::string& out, std::uint32_t value) {
  Put16(out, static_cast<std::uint16_t>(value >> 16));
  Put16(out, static_cast<std::uint16_t>(value));
}
void Put64(std::string& out, std::uint64_t value) {
  Put32(out, static_cast<std::uint32_t>(value >> 32));
  Put32(out, static_cast<std::uint32_t>(value));
}
void PutAddress(std::string& out, Ipv4Address address) {
  char bytes[4];
  std::memcpy(bytes, &address, sizeof bytes);  // already in wire order
  out.append(bytes, sizeof bytes);
}
void Set16(std::string& out, std::size_t at, std::size_t value) {
  out[at] = static_cast<char>((value >> 8) & 0xFF);
  out[at + 1] = static_cast<char>(value & 0xFF);
}

// The name cut to the bound without splitting a UTF-8 character.
std::string_view ApplicationName(const FlowRecord& record) {
  std::string_view name = record.applicationName;
  if (name.size() <= kMaxApplicationNameBytes) return name;
  std::size_t end = kMaxApplicationNameBytes;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

// One field of the template and how a record fills it; the template and
// the data records are both written from this table, so they cannot differ.
struct Field {
  std::uint16_t element;
  std::uint16_t length;
  bool reverse;
  void (*write)(std::string&, const FlowRecord&);
};

// The address elements of the local (source) and remote (destination) end.
// Every address family's elements are chosen here.
constexpr Field kIpv4SourceAddress{8, 4, false, [](std::string& o, const FlowRecord& r) { PutAddress(o, r.localAddress); }};
constexpr Field kIpv4DestinationAddress{12, 4, false,
                                        [](std::string& o, const FlowRecord& r) { PutAddress(o, r.remoteAddress); }};

const Field kIpv4Fields[] = {
    kIpv4SourceAddress,
    kIpv4DestinationAddress,
    {7, 2, false, [](std::string& o, const FlowRecord& r) { Put16(o, r.localPort); }},    // sourceTransportPort
    {11, 2, false, [](std::string& o, const FlowRecord& r) { Put16(o, r.remotePort); }},  // destinationTransportPort
    {4, 1, false, [](std::string& o, const FlowRecord& r) { Put8(o, r.protocol); }},      // protocolIdentifier
    {152, 8, false,  // flowStartMilliseconds
     [](std::string& o, const FlowRecord& r) { Put64(o, static_cast<std::uint64_t>(r.startMilliseconds)); }},
    {153, 8, false,  // flowEndMilliseconds
     [](std::string& o, const FlowRecord& r) { Put64(o, static_cast<std::uint64_t>(r.endMilliseconds)); }},
    {1, 8, false, [](std::string& o, const FlowRecord& r) { Put64(o, r.uploadOctets); }},    // octetDeltaCount
    {2, 8, false, [](std::string& o, const FlowRecord& r) { Put64(o, r.uploadPackets); }},   // packetDeltaCount
    {1, 8, true, [](std::string& o, const FlowRecord& r) { Put64(o, r.downloadOctets); }},   // reverse octets
    {2, 8, true, [](std::string& o, const FlowRecord& r) { Put64(o, r.downloadPackets); }},  // reverse packets
    {96, kVariableLength, false,  // applicationName, one length byte (names stay under 255 bytes)
     [](std::string& o, const FlowRecord& r) {
       const std::string_view name = ApplicationName(r);
       Put8(o, static_cast<std::uint8_t>(name.size()));
       o.append(name);
     }},
};

std::size_t RecordBytes(const FlowRecord& record) {
  std::size_t bytes = 0;
  for (const Field& field : kIpv4Fields) bytes += field.length == kVariableLength ? 0 : field.length;
  return bytes + 1 + ApplicationName(record).size();
}

}  // namespace

std::string TemplateSet() {
  std::string set;
  Put16(set, kTemplateSetId);
  Put16(set, 0);  // length, set below
  Put16(set, kIpv4TemplateId);
  Put16(set, static_cast<std::uint16_t>(std::size(kIpv4Fields)));
  for (const Field& field : kIpv4Fields) {
    Put16(set, field.reverse ? static_cast<std::uint16_t>(field.element | kEnterpriseBit) : field.element);
    Put16(set, field.length);
    if (field.reverse) Put32(set, kReverseEnterprise);
  }
  Set16(set, 2, set.size());
  return set;
}

std::string MessageBuilder::Header(std::size_t length, std::uint32_t exportSeconds) const {
  std::string header;
  Put16(header, kVersion);
  Put16(header, static_cast<std::uint16_t>(length));
  Put32(header, exportSeconds);
  Put32(header, sequence_);
  Put32(header, observationDomain_);
  return header;
}

std::string MessageBuilder::TemplateMessage(std::uint32_t exportSeconds) const {
  const std::string set = TemplateSet();
  return Header(kMessageHeaderBytes + set.size(), exportSeconds) + set;
}

std::vector<std::string> MessageBuilder::DataMessages(const std::vector<FlowRecord>& records,
                                                      std::uint32_t exportSeconds) {
  std::vector<std::string> messages;
  std::size_t next = 0;
  while (next < records.size()) {
    std::string set;
    Put16(set, kIpv4TemplateId);
    Put16(set, 0);
    std::uint32_t count = 0;
    while (next < records.size() &&
           (count == 0 || kMessageHeaderBytes + set.size() + RecordBytes(records[next]) <= kMaxMessageBytes)) {
      for (const Field& field : kIpv4Fields) field.write(set, records[next]);
      ++next;
      ++count;
    }
    Set16(set, 2, set.size());
    messages.push_back(Header(kMessageHeaderBytes + set.size(), exportSeconds) + set);
    sequence_ += count;
  }
  return messages;
}

}  // namespace quorvel::ipfix
