#include "attribution/names/quic_initial.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "attribution/names/byte_reader.h"
#include "attribution/names/tls_client_hello.h"

namespace quorvel {
namespace {

constexpr std::array<std::uint8_t, 20> kInitialSalt = {0x38, 0x76, 0x2c, 0xf7, 0xf5, 0x59, 0x34, 0xb3, 0x4d, 0x17,
                                                       0x9a, 0xe6, 0xa4, 0xc8, 0x0c, 0xad, 0xcc, 0xbb, 0x7f, 0x0a};
constexpr std::size_t kMaxConnectionId = 20;
constexpr std::size_t kSampleBytes = 16;
constexpr std::size_t kTagBytes = 16;

using Secret = std::array<std::uint8_t, 32>;

Secret HmacSha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
  Secret out{};
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), data.data(), data.size(), out.data(), &length);
  return out;
}

// HKDF-Expand-Label of TLS 1.3 with an empty context, for outputs of at most
// one SHA-256 block.
template <std::size_t N>
std::array<std::uint8_t, N> ExpandLabel(const Secret& secret, std::string_view label) {
  static_assert(N <= 32);
  std::vector<std::uint8_t> info = {0, static_cast<std::uint8_t>(N), static_cast<std::uint8_t>(6 + label.size())};
  for (const char c : std::string_view("tls13 ")) info.push_back(static_cast<std::uint8_t>(c));
  for (const char c : label) info.push_back(static_cast<std::uint8_t>(c));
  info.push_back(0);  // context length
  info.push_back(1);  // HKDF-Expand block counter
  const Secret block = HmacSha256(secret, info);
  std::array<std::uint8_t, N> out{};
  std::copy_n(block.begin(), N, out.begin());
  return out;
}

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

bool HeaderProtectionMask(const QuicInitialKeys& keys, std::span<const std::uint8_t> sample,
                          std::array<std::uint8_t, 16>& mask) {
  CipherContext context(EVP_CIPHER_CTX_new());
  int length = 0;
  return context && EVP_EncryptInit_ex(context.get(), EVP_aes_128_ecb(), nullptr, keys.headerProtection.data(),
                                       nullptr) == 1 &&
         EVP_CIPHER_CTX_set_padding(context.get(), 0) == 1 &&
         EVP_EncryptUpdate(context.get(), mask.data(), &length, sample.data(), static_cast<int>(sample.size())) == 1 &&
         length == 16;
}

bool DecryptPayload(const QuicInitialKeys& keys, std::uint64_t packetNumber, std::span<const std::uint8_t> header,
                    std::span<const std::uint8_t> sealed, std::vector<std::uint8_t>& plain) {
  if (sealed.size() < kTagBytes) return false;
  std::array<std::uint8_t, 12> nonce = keys.iv;
  for (std::size_t i = 0; i < 8; ++i) nonce[11 - i] ^= static_cast<std::uint8_t>(packetNumber >> (8 * i));
  const std::size_t textLength = sealed.size() - kTagBytes;
  plain.resize(textLength);
  CipherContext context(EVP_CIPHER_CTX_new());
  int length = 0;
  std::array<std::uint8_t, kTagBytes> tag{};
  std::copy_n(sealed.begin() + static_cast<std::ptrdiff_t>(textLength), kTagBytes, tag.begin());
  return context && EVP_DecryptInit_ex(context.get(), EVP_aes_128_gcm(), nullptr, nullptr, nullptr) == 1 &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(nonce.size()), nullptr) == 1 &&
         EVP_DecryptInit_ex(context.get(), nullptr, nullptr, keys.key.data(), nonce.data()) == 1 &&
         EVP_DecryptUpdate(context.get(), nullptr, &length, header.data(), static_cast<int>(header.size())) == 1 &&
         EVP_DecryptUpdate(context.get(), plain.data(), &length, sealed.data(), static_cast<int>(textLength)) == 1 &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(tag.size()), tag.data()) == 1 &&
         EVP_DecryptFinal_ex(context.get(), plain.data() + length, &length) == 1;
}

// Adds the CRYPTO frames of a decrypted Initial payload to the stream.
void AddCryptoFrames(std::span<const std::uint8_t> frames, CryptoStream& stream) {
  ByteReader reader(frames);
  while (reader.Remaining() > 0) {
    std::uint64_t type = 0;
    if (!reader.VarInt(type)) break;
    if (type == 0x00 || type == 0x01) continue;  // PADDING, PING
    if (type == 0x02 || type == 0x03) {          // ACK
      std::uint64_t value = 0;
      std::uint64_t ranges = 0;
      if (!reader.VarInt(value) || !reader.VarInt(value) || !reader.VarInt(ranges) || !reader.VarInt(value)) break;
      bool ok = ranges <= reader.Remaining();
      for (std::uint64_t i = 0; ok && i < 2 * ranges; ++i) ok = reader.VarInt(value);
      for (int i = 0; ok && type == 0x03 && i < 3; ++i) ok = reader.VarInt(value);
      if (!ok) break;
      continue;
    }
    if (type != 0x06) break;  // nothing else carries what is looked for
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::span<const std::uint8_t> bytes;
    if (!reader.VarInt(offset) || !reader.VarInt(length) || length > reader.Remaining() ||
        !reader.Take(static_cast<std::size_t>(length), bytes)) {
      break;
    }
    stream.Add(offset, bytes);
  }
}

}  // namespace

QuicInitialKeys DeriveClientInitialKeys(std::span<const std::uint8_t> destinationConnectionId) {
  const Secret initial = HmacSha256(kInitialSalt, destinationConnectionId);
  const Secret client = ExpandLabel<32>(initial, "client in");
  return {ExpandLabel<16>(client, "quic key"), ExpandLabel<12>(client, "quic iv"), ExpandLabel<16>(client, "quic hp")};
}

void CryptoStream::Add(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (offset >= kMaxBytes) return;
  const std::size_t start = static_cast<std::size_t>(offset);
  const std::size_t end = std::min(start + bytes.size(), kMaxBytes);
  if (data_.size() < end) {
    data_.resize(end);
    present_.resize(end);
  }
  for (std::size_t i = start; i < end; ++i) {
    data_[i] = bytes[i - start];
    present_[i] = true;
  }
  while (contiguous_ < present_.size() && present_[contiguous_]) ++contiguous_;
}

std::optional<std::string> ReadQuicInitialServerName(std::span<const std::uint8_t> datagram) {
  CryptoStream stream;
  if (!AddQuicInitialCrypto(datagram, stream)) return std::nullopt;
  return ReadClientHelloServerName(stream.Prefix());
}

bool AddQuicInitialCrypto(std::span<const std::uint8_t> datagram, CryptoStream& stream) {
  ByteReader reader(datagram);
  std::uint8_t first = 0;
  std::uint32_t version = 0;
  std::uint8_t dcidLength = 0;
  std::span<const std::uint8_t> dcid;
  std::uint8_t scidLength = 0;
  std::uint64_t tokenLength = 0;
  std::uint64_t length = 0;
  if (!reader.Read(1, first) || (first & 0xF0) != 0xC0 || !reader.Read(4, version) || version != 1 ||
      !reader.Read(1, dcidLength) || dcidLength > kMaxConnectionId || !reader.Take(dcidLength, dcid) ||
      !reader.Read(1, scidLength) || scidLength > kMaxConnectionId || !reader.Skip(scidLength) ||
      !reader.VarInt(tokenLength) || tokenLength > reader.Remaining() ||
      !reader.Skip(static_cast<std::size_t>(tokenLength)) || !reader.VarInt(length) || length > reader.Remaining() ||
      length < 4 + kSampleBytes) {
    return false;
  }
  const std::size_t packetNumberOffset = reader.Offset();
  const std::span<const std::uint8_t> packet = datagram.first(packetNumberOffset + static_cast<std::size_t>(length));

  const QuicInitialKeys keys = DeriveClientInitialKeys(dcid);
  std::array<std::uint8_t, 16> mask{};
  if (!HeaderProtectionMask(keys, packet.subspan(packetNumberOffset + 4, kSampleBytes), mask)) return false;
  std::vector<std::uint8_t> header(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(packetNumberOffset));
  header[0] ^= mask[0] & 0x0F;
  const std::size_t packetNumberLength = (header[0] & 0x03) + 1u;
  std::uint64_t packetNumber = 0;
  for (std::size_t i = 0; i < packetNumberLength; ++i) {
    const std::uint8_t byte = packet[packetNumberOffset + i] ^ mask[1 + i];
    header.push_back(byte);
    packetNumber = (packetNumber << 8) | byte;
  }
  std::vector<std::uint8_t> plain;
  if (!DecryptPayload(keys, packetNumber, header, packet.subspan(header.size()), plain)) return false;
  AddCryptoFrames(plain, stream);
  return true;
}

}  // namespace quorvel
