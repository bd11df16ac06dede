#include "tools/export/ipfix_encoder.h"

#include <iterator>
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
void PutAddress(std::string& out, const IpAddress& address) {
  // Already in wire order.
  out.append(reinterpret_cast<const char*>(address.bytes.data()), address.IsIpv4() ? 4 : 16);
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

void PutLocal(std::string& o, const FlowRecord& r) { PutAddress(o, r.localAddress); }
void PutRemote(std::string& o, const FlowRecord& r) { PutAddress(o, r.remoteAddress); }

// Every field after the two addresses, the same for both families.
const Field kCommonFields[] = {
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

struct Template {
  std::uint16_t id;
  std::vector<Field> fields;
};

Template WithAddresses(std::uint16_t id, std::uint16_t source, std::uint16_t destination, std::uint16_t length) {
  Template made{id, {{source, length, false, PutLocal}, {destination, length, false, PutRemote}}};
  made.fields.insert(made.fields.end(), std::begin(kCommonFields), std::end(kCommonFields));
  return made;
}

// Every address family's template is chosen here: sourceIPv4Address 8 and
// destinationIPv4Address 12, or sourceIPv6Address 27 and
// destinationIPv6Address 28.
const Template& TemplateOf(IpFamily family) {
  static const Template ipv4 = WithAddresses(kIpv4TemplateId, 8, 12, 4);
  static const Template ipv6 = WithAddresses(kIpv6TemplateId, 27, 28, 16);
  return family == IpFamily::kIpv4 ? ipv4 : ipv6;
}

std::size_t RecordBytes(const FlowRecord& record) {
  std::size_t bytes = 0;
  for (const Field& field : TemplateOf(record.remoteAddress.family).fields) bytes += field.length == kVariableLength ? 0 : field.length;
  return bytes + 1 + ApplicationName(record).size();
}

}  // namespace

std::string TemplateSet() {
  std::string set;
  Put16(set, kTemplateSetId);
  Put16(set, 0);  // length, set below
  for (const IpFamily family : {IpFamily::kIpv4, IpFamily::kIpv6}) {
    const Template& shape = TemplateOf(family);
    Put16(set, shape.id);
    Put16(set, static_cast<std::uint16_t>(shape.fields.size()));
    for (const Field& field : shape.fields) {
      Put16(set, field.reverse ? static_cast<std::uint16_t>(field.element | kEnterpriseBit) : field.element);
      Put16(set, field.length);
      if (field.reverse) Put32(set, kReverseEnterprise);
    }
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
    const IpFamily family = records[next].remoteAddress.family;
    const Template& shape = TemplateOf(family);
    std::string set;
    Put16(set, shape.id);
    Put16(set, 0);
    std::uint32_t count = 0;
    while (next < records.size() && records[next].remoteAddress.family == family &&
           (count == 0 || kMessageHeaderBytes + set.size() + RecordBytes(records[next]) <= kMaxMessageBytes)) {
      for (const Field& field : shape.fields) field.write(set, records[next]);
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
