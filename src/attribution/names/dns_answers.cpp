#include "attribution/names/dns_answers.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "attribution/names/byte_reader.h"
#include "attribution/names/host_name_text.h"

namespace quorvel {
namespace {

constexpr std::size_t kHeaderBytes = 12;
constexpr std::size_t kMaxNameWireBytes = 255;
constexpr int kMaxPointerJumps = 32;
constexpr int kMaxChainSteps = 16;
constexpr std::uint16_t kTypeA = 1;
constexpr std::uint16_t kTypeCname = 5;
constexpr std::uint16_t kTypeAaaa = 28;
constexpr std::uint16_t kClassIn = 1;

// Reads the name at `offset` (compression pointers followed) as lower-case
// dotted text; `offset` moves past the name's own bytes. nullopt for a
// malformed name or one that is not host-name text.
std::optional<std::string> ReadName(std::span<const std::uint8_t> message, std::size_t& offset) {
  std::string name;
  std::size_t at = offset;
  std::size_t wireBytes = 0;
  int jumps = 0;
  bool jumped = false;
  for (;;) {
    if (at >= message.size()) return std::nullopt;
    const std::uint8_t length = message[at];
    if ((length & 0xC0) == 0xC0) {
      if (at + 1 >= message.size() || ++jumps > kMaxPointerJumps) return std::nullopt;
      if (!jumped) offset = at + 2;
      jumped = true;
      at = (static_cast<std::size_t>(length & 0x3F) << 8) | message[at + 1];
      continue;
    }
    if ((length & 0xC0) != 0) return std::nullopt;  // reserved label types
    wireBytes += 1u + length;
    if (wireBytes > kMaxNameWireBytes || at + 1 + length > message.size()) return std::nullopt;
    if (length == 0) {
      if (!jumped) offset = at + 1;
      break;
    }
    if (!name.empty()) name += '.';
    for (std::size_t i = at + 1; i <= at + length; ++i) {
      const unsigned char byte = message[i];
      if (!IsHostNameByte(byte)) return std::nullopt;
      name += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte);
    }
    at += 1u + length;
  }
  return name;
}

struct Cname {
  std::string owner;
  std::string target;
};

// Follows CNAME records from `name` back to the name that started the chain.
std::string_view HeadOfChain(std::string_view name, const std::vector<Cname>& cnames) {
  for (int step = 0; step < kMaxChainSteps; ++step) {
    const auto link = std::find_if(cnames.begin(), cnames.end(),
                                   [name](const Cname& c) { return c.target == name; });
    if (link == cnames.end()) break;
    name = link->owner;
  }
  return name;
}

}  // namespace

std::span<const std::uint8_t> DnsMessageInTcp(std::span<const std::uint8_t> segment) {
  if (segment.size() < 2) return {};
  const std::size_t length = (static_cast<std::size_t>(segment[0]) << 8) | segment[1];
  return segment.subspan(2, std::min(length, segment.size() - 2));
}

std::vector<DnsAddressAnswer> ReadDnsAnswers(std::span<const std::uint8_t> message) {
  std::vector<DnsAddressAnswer> answers;
  ByteReader header(message);
  std::uint16_t flags = 0;
  std::uint16_t questions = 0;
  std::uint16_t records = 0;
  if (!header.Skip(2) || !header.Read(2, flags) || !header.Read(2, questions) || !header.Read(2, records)) {
    return answers;
  }
  if ((flags & 0x8000) == 0 || records == 0) return answers;  // a query, or nothing answered

  std::size_t offset = kHeaderBytes;
  std::optional<std::string> question;
  for (std::uint16_t i = 0; i < questions; ++i) {
    auto name = ReadName(message, offset);
    if (!name || offset + 4 > message.size()) return answers;
    offset += 4;  // type, class
    if (i == 0) question = std::move(name);
  }

  std::vector<Cname> cnames;
  for (std::size_t i = 0; i < std::min<std::size_t>(records, kMaxDnsRecords); ++i) {
    auto owner = ReadName(message, offset);
    if (!owner) break;
    ByteReader fields(message.subspan(std::min(offset, message.size())));
    std::uint16_t type = 0;
    std::uint16_t klass = 0;
    std::uint32_t ttl = 0;
    std::uint16_t dataLength = 0;
    if (!fields.Read(2, type) || !fields.Read(2, klass) || !fields.Read(4, ttl) || !fields.Read(2, dataLength) ||
        fields.Remaining() < dataLength) {
      break;
    }
    const std::size_t dataOffset = offset + 10;
    offset = dataOffset + dataLength;
    if ((klass & 0x7FFF) != kClassIn) continue;  // the top bit is mDNS's cache-flush flag
    if (type == kTypeCname) {
      std::size_t at = dataOffset;
      if (auto target = ReadName(message, at)) cnames.push_back({std::move(*owner), std::move(*target)});
    } else if ((type == kTypeA && dataLength == 4) || (type == kTypeAaaa && dataLength == 16)) {
      DnsAddressAnswer answer;
      answer.name = std::move(*owner);
      answer.addressSize = static_cast<std::uint8_t>(dataLength);
      std::copy_n(message.begin() + static_cast<std::ptrdiff_t>(dataOffset), dataLength, answer.address.begin());
      answer.ttlSeconds = ttl > 0x7FFFFFFF ? 0 : ttl;  // TTLs above 2^31 count as 0
      answers.push_back(std::move(answer));
    }
  }

  // Each address under the name its chain starts from; with a question, only
  // chains that start at the question name count.
  std::vector<DnsAddressAnswer> named;
  for (DnsAddressAnswer& answer : answers) {
    const std::string_view head = HeadOfChain(answer.name, cnames);
    if (question && head != *question) continue;
    auto shown = CleanHostName(head);
    if (!shown) continue;
    answer.name = std::move(*shown);
    named.push_back(std::move(answer));
  }
  return named;
}

}  // namespace quorvel
