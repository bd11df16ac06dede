#include "attribution/names/tls_client_hello.h"

#include <string_view>

#include "attribution/names/byte_reader.h"
#include "attribution/names/host_name_text.h"

namespace quorvel {
namespace {

constexpr std::uint8_t kHandshakeRecord = 22;
constexpr std::uint8_t kClientHello = 1;
constexpr std::uint16_t kServerNameExtension = 0;
constexpr std::uint8_t kHostNameType = 0;

std::optional<std::string> ServerNameInExtension(std::span<const std::uint8_t> data) {
  ByteReader reader(data);
  std::uint16_t listLength = 0;
  if (!reader.Read(2, listLength)) return std::nullopt;
  ByteReader list(reader.TakeUpTo(listLength));
  while (list.Remaining() > 0) {
    std::uint8_t type = 0;
    std::uint16_t length = 0;
    std::span<const std::uint8_t> name;
    if (!list.Read(1, type) || !list.Read(2, length) || !list.Take(length, name)) return std::nullopt;
    if (type == kHostNameType) {
      return CleanHostName(std::string_view(reinterpret_cast<const char*>(name.data()), name.size()));
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ReadClientHelloServerName(std::span<const std::uint8_t> handshake) {
  ByteReader message(handshake);
  std::uint8_t type = 0;
  std::uint32_t length = 0;
  if (!message.Read(1, type) || type != kClientHello || !message.Read(3, length)) return std::nullopt;
  ByteReader hello(message.TakeUpTo(length));
  std::uint8_t sessionIdLength = 0;
  std::uint16_t suitesLength = 0;
  std::uint8_t compressionLength = 0;
  std::uint16_t extensionsLength = 0;
  if (!hello.Skip(2 + 32) || !hello.Read(1, sessionIdLength) || !hello.Skip(sessionIdLength) ||
      !hello.Read(2, suitesLength) || !hello.Skip(suitesLength) || !hello.Read(1, compressionLength) ||
      !hello.Skip(compressionLength) || !hello.Read(2, extensionsLength)) {
    return std::nullopt;
  }
  ByteReader extensions(hello.TakeUpTo(extensionsLength));
  while (extensions.Remaining() >= 4) {
    std::uint16_t extensionType = 0;
    std::uint16_t extensionLength = 0;
    extensions.Read(2, extensionType);
    extensions.Read(2, extensionLength);
    const std::span<const std::uint8_t> data = extensions.TakeUpTo(extensionLength);
    if (extensionType == kServerNameExtension) return ServerNameInExtension(data);
  }
  return std::nullopt;
}

bool ClientHelloComplete(std::span<const std::uint8_t> handshake) {
  if (handshake.size() < 4) return false;
  if (handshake[0] != kClientHello) return true;
  const std::size_t length = (std::size_t{handshake[1]} << 16) | (std::size_t{handshake[2]} << 8) | handshake[3];
  return handshake.size() >= 4 + length;
}

bool TlsFirstRecordComplete(std::span<const std::uint8_t> payload) {
  if (payload.size() < 5) return false;
  if (payload[0] != kHandshakeRecord) return true;
  return payload.size() >= 5 + ((std::size_t{payload[3]} << 8) | payload[4]);
}

std::optional<std::string> ReadTlsServerName(std::span<const std::uint8_t> payload) {
  ByteReader record(payload);
  std::uint8_t type = 0;
  std::uint8_t major = 0;
  std::uint16_t length = 0;
  if (!record.Read(1, type) || type != kHandshakeRecord || !record.Read(1, major) || major != 3 ||
      !record.Skip(1) || !record.Read(2, length)) {
    return std::nullopt;
  }
  return ReadClientHelloServerName(record.TakeUpTo(length));
}

}  // namespace quorvel
