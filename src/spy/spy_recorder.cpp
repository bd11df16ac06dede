#include "spy/spy_recorder.h"

#include <cstring>

namespace quorvel {
namespace {

constexpr std::size_t kRecordHeader = sizeof(std::int64_t) + 2 * sizeof(std::uint32_t);

}  // namespace

void AppendRecordedPacket(std::string& buffer, std::int64_t arrivalMicroseconds, std::uint32_t originalLength,
                          std::string_view bytes) {
  const auto captured = static_cast<std::uint32_t>(bytes.size());
  char header[kRecordHeader];
  std::memcpy(header, &arrivalMicroseconds, sizeof arrivalMicroseconds);
  std::memcpy(header + 8, &originalLength, sizeof originalLength);
  std::memcpy(header + 12, &captured, sizeof captured);
  buffer.append(header, sizeof header);
  buffer.append(bytes);
}

void SpyRecorder::Add(std::string_view buffer) {
  while (buffer.size() >= kRecordHeader) {
    RecordedPacket packet;
    std::uint32_t captured = 0;
    std::memcpy(&packet.arrivalMicroseconds, buffer.data(), sizeof packet.arrivalMicroseconds);
    std::memcpy(&packet.originalLength, buffer.data() + 8, sizeof packet.originalLength);
    std::memcpy(&captured, buffer.data() + 12, sizeof captured);
    buffer.remove_prefix(kRecordHeader);
    if (captured > buffer.size()) break;
    packet.bytes.assign(buffer.substr(0, captured));
    buffer.remove_prefix(captured);
    bytes_ += RecordedPacketCost(packet.bytes.size());
    packets_.push_back(std::move(packet));
    while (bytes_ > maxBytes_ && !packets_.empty()) {
      bytes_ -= RecordedPacketCost(packets_.front().bytes.size());
      packets_.pop_front();
      ++dropped_;
    }
  }
}

std::string SpyRecorder::Comment() const {
  if (dropped_ == 0) return {};
  return std::to_string(dropped_) + " packets seen since the Traffic Spy opened are not in this file: it keeps " +
         "the most recent " + std::to_string(maxBytes_ >> 20) + " MB of packets.";
}

}  // namespace quorvel
