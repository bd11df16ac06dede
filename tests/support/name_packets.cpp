#include "support/name_packets.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "attribution/names/quic_initial.h"

namespace quorvel::testing {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::size_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void PutName(std::vector<std::uint8_t>& out, std::string_view name) {
  while (!name.empty()) {
    const std::size_t dot = name.find('.');
    const std::string_view label = name.substr(0, dot);
    out.push_back(static_cast<std::uint8_t>(label.size()));
    out.insert(out.end(), label.begin(), label.end());
    name = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  }
  out.push_back(0);
}

void PutVarInt(std::vector<std::uint8_t>& out, std::uint64_t value) {
  if (value < 64) {
    out.push_back(static_cast<std::uint8_t>(value));
  } else {
    Put16(out, 0x4000 | value);
  }
}

std::vector<std::uint8_t> Extension(std::uint16_t type, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out;
  Put16(out, type);
  Put16(out, data.size());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

}  // namespace

std::vector<std::uint8_t> Hex(std::string_view hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

DnsRecordSpec ARecord(std::string owner, std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                      std::uint32_t ttl) {
  return {std::move(owner), 1, ttl, {a, b, c, d}, {}};
}

DnsRecordSpec CnameRecord(std::string owner, std::string target, std::uint32_t ttl) {
  return {std::move(owner), 5, ttl, {}, std::move(target)};
}

std::vector<std::uint8_t> BuildDnsResponse(std::string_view question, const std::vector<DnsRecordSpec>& answers) {
  std::vector<std::uint8_t> out = {0x12, 0x34, 0x81, 0x80, 0, question.empty() ? std::uint8_t{0} : std::uint8_t{1}};
  Put16(out, answers.size());
  Put16(out, 0);
  Put16(out, 0);
  if (!question.empty()) {
    PutName(out, question);
    Put16(out, 1);
    Put16(out, 1);
  }
  for (const DnsRecordSpec& record : answers) {
    if (!question.empty() && record.owner == question) {
      Put16(out, 0xC00C);
    } else {
      PutName(out, record.owner);
    }
    Put16(out, record.type);
    Put16(out, 1);
    Put16(out, record.ttl >> 16);
    Put16(out, record.ttl & 0xFFFF);
    std::vector<std::uint8_t> data = record.data;
    if (record.type == 5) PutName(data, record.target);
    Put16(out, data.size());
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}

std::vector<std::uint8_t> BuildClientHello(std::optional<std::string_view> serverName, bool tls13,
                                           std::size_t paddingBeforeName) {
  std::vector<std::uint8_t> body = {0x03, 0x03};
  body.insert(body.end(), 32, 0xAB);  // random
  body.push_back(32);                 // session id
  body.insert(body.end(), 32, 0xCD);
  Put16(body, 4);
  body.insert(body.end(), {0x13, 0x01, 0xC0, 0x2F});
  body.insert(body.end(), {1, 0});
  std::vector<std::uint8_t> extensions = Extension(0x000A, {0, 2, 0, 0x1D});  // supported groups first
  if (paddingBeforeName > 0) {
    const auto padding = Extension(0x0015, std::vector<std::uint8_t>(paddingBeforeName, 0));
    extensions.insert(extensions.end(), padding.begin(), padding.end());
  }
  if (serverName) {
    std::vector<std::uint8_t> list;
    Put16(list, serverName->size() + 3);
    list.push_back(0);
    Put16(list, serverName->size());
    list.insert(list.end(), serverName->begin(), serverName->end());
    const auto sni = Extension(0x0000, list);
    extensions.insert(extensions.end(), sni.begin(), sni.end());
  }
  if (tls13) {
    const auto versions = Extension(0x002B, {2, 0x03, 0x04});
    extensions.insert(extensions.end(), versions.begin(), versions.end());
    std::vector<std::uint8_t> share = {0, 36, 0, 0x1D, 0, 32};
    share.insert(share.end(), 32, 0x11);
    const auto keyShare = Extension(0x0033, share);
    extensions.insert(extensions.end(), keyShare.begin(), keyShare.end());
  }
  Put16(body, extensions.size());
  body.insert(body.end(), extensions.begin(), extensions.end());
  std::vector<std::uint8_t> message = {1, 0};
  Put16(message, body.size());
  message.insert(message.end(), body.begin(), body.end());
  return message;
}

std::vector<std::uint8_t> TlsRecord(const std::vector<std::uint8_t>& handshake) {
  std::vector<std::uint8_t> out = {0x16, 0x03, 0x01};
  Put16(out, handshake.size());
  out.insert(out.end(), handshake.begin(), handshake.end());
  return out;
}

std::vector<std::uint8_t> CryptoFrame(std::uint64_t offset, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out = {0x06};
  PutVarInt(out, offset);
  PutVarInt(out, data.size());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<std::uint8_t> BuildQuicClientInitial(const std::vector<std::uint8_t>& destinationConnectionId,
                                                 std::uint32_t packetNumber, std::vector<std::uint8_t> frames) {
  const QuicInitialKeys keys = DeriveClientInitialKeys(destinationConnectionId);
  std::vector<std::uint8_t> packet = {0xC3, 0, 0, 0, 1, static_cast<std::uint8_t>(destinationConnectionId.size())};
  packet.insert(packet.end(), destinationConnectionId.begin(), destinationConnectionId.end());
  packet.push_back(0);  // no source connection id
  packet.push_back(0);  // no token
  constexpr std::size_t kTag = 16;
  const std::size_t headerBeforeLength = packet.size();
  const std::size_t payload = 1200 - headerBeforeLength - 2 - 4 - kTag;
  frames.resize(std::max(frames.size(), payload), 0);  // PADDING
  Put16(packet, 0x4000 | (4 + frames.size() + kTag));
  const std::size_t numberOffset = packet.size();
  for (int shift = 24; shift >= 0; shift -= 8) packet.push_back(static_cast<std::uint8_t>(packetNumber >> shift));

  std::array<std::uint8_t, 12> nonce = keys.iv;
  for (std::size_t i = 0; i < 4; ++i) nonce[11 - i] ^= static_cast<std::uint8_t>(packetNumber >> (8 * i));
  std::vector<std::uint8_t> sealed(frames.size() + kTag);
  EVP_CIPHER_CTX* gcm = EVP_CIPHER_CTX_new();
  int length = 0;
  EVP_EncryptInit_ex(gcm, EVP_aes_128_gcm(), nullptr, keys.key.data(), nonce.data());
  EVP_EncryptUpdate(gcm, nullptr, &length, packet.data(), static_cast<int>(packet.size()));
  EVP_EncryptUpdate(gcm, sealed.data(), &length, frames.data(), static_cast<int>(frames.size()));
  EVP_EncryptFinal_ex(gcm, sealed.data() + length, &length);
  EVP_CIPHER_CTX_ctrl(gcm, EVP_CTRL_GCM_GET_TAG, kTag, sealed.data() + frames.size());
  EVP_CIPHER_CTX_free(gcm);
  packet.insert(packet.end(), sealed.begin(), sealed.end());

  std::array<std::uint8_t, 16> mask{};
  EVP_CIPHER_CTX* ecb = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ecb, EVP_aes_128_ecb(), nullptr, keys.headerProtection.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ecb, 0);
  EVP_EncryptUpdate(ecb, mask.data(), &length, packet.data() + numberOffset + 4, 16);
  EVP_CIPHER_CTX_free(ecb);
  packet[0] ^= mask[0] & 0x0F;
  for (std::size_t i = 0; i < 4; ++i) packet[numberOffset + i] ^= mask[1 + i];
  return packet;
}

}  // namespace quorvel::testing
