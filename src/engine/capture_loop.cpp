#include "engine/capture_loop.h"

#include "engine/packet_parser.h"

namespace quorvel {

void CaptureLoop::OnTimedPacket(std::int64_t arrivalMicroseconds, const std::uint8_t* data, std::size_t received) {
  // Single writer: a plain increment is enough for readers on other threads.
  packetsSeen_.store(packetsSeen_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  auto facts = ParsePacket(data, received);
  if (!facts) return;
  facts->arrivalMicroseconds = arrivalMicroseconds;
  accountant_.AccountPacket(*facts);
}

}  // namespace quorvel
