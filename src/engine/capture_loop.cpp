#include "engine/capture_loop.h"

#include "engine/packet_parser.h"

namespace quorvel {

void CaptureLoop::OnPacket(const std::uint8_t* data, std::size_t received) {
  // Single writer: a plain increment is enough for readers on other threads.
  packetsSeen_.store(packetsSeen_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  if (const auto facts = ParsePacket(data, received)) accountant_.AccountPacket(*facts);
}

}  // namespace quorvel
