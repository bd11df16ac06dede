#include "spy/spy_text.h"

#include <algorithm>
#include <functional>

#include "persistence/latin1.h"

namespace quorvel {
namespace {

char FoldToCapital(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string SpyKeyText(const IpAddress& remoteAddress, std::uint32_t remotePort) {
  return EndpointText(remoteAddress, remotePort);
}

std::string_view SpyDataBytes(const SpyPacket& packet) {
  if (packet.data == nullptr || packet.receivedEnd == nullptr) return {};
  // The pointers come from one receive buffer, but std::less keeps the
  // comparison defined even if a caller mixes them up.
  if (std::less<const std::uint8_t*>()(packet.receivedEnd, packet.data)) return {};
  const auto available = static_cast<std::size_t>(packet.receivedEnd - packet.data);
  const std::size_t count = std::min<std::size_t>(packet.length, available);
  return {reinterpret_cast<const char*>(packet.data), count};
}

std::string_view SpyPacketBytes(const SpyPacket& packet) {
  return SpyDataBytes(SpyPacket{{}, 0, 0, packet.packetStart, packet.length, packet.receivedEnd});
}

std::string JoinSpyLines(const std::vector<std::string>& lines) {
  std::size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 1;
  std::string text;
  text.reserve(size);
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

SpyTextFilter::SpyTextFilter(bool enabled, std::string_view text) : active_(enabled && !text.empty()) {
  if (!active_) return;
  const std::optional<std::string> latin1 = Utf8ToLatin1(text);
  if (!latin1 || latin1->find('\0') != std::string::npos) {
    unmatchable_ = true;
    return;
  }
  folded_ = *latin1;
  std::transform(folded_.begin(), folded_.end(), folded_.begin(), FoldToCapital);
}

bool SpyTextFilter::Passes(std::string_view dataBytes, std::string& scratch) const {
  if (!active_) return true;
  if (unmatchable_) return false;
  scratch.resize(dataBytes.size());
  std::transform(dataBytes.begin(), dataBytes.end(), scratch.begin(),
                 [](char byte) { return FoldToCapital(SpyLineChar(byte)); });
  return std::string_view(scratch).find(folded_) != std::string_view::npos;
}

}  // namespace quorvel
