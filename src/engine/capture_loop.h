#pragma once

#include <atomic>
#include <cstdint>

#include "engine/accounting.h"
#include "platform/packet_source.h"

namespace quorvel {

// Parses each captured buffer and hands its facts to accounting.
class CaptureLoop final : public PacketSink {
 public:
  explicit CaptureLoop(Accountant& accountant) : accountant_(accountant) {}
  void OnPacket(const std::uint8_t* data, std::size_t received) override { OnTimedPacket(0, data, received); }
  void OnTimedPacket(std::int64_t arrivalMicroseconds, const std::uint8_t* data, std::size_t received) override;
  PayloadNeed WantedPayload() const override { return accountant_.WantedPayload(); }
  // Buffers received, accepted or not; read from any thread.
  std::uint64_t PacketsSeen() const { return packetsSeen_.load(std::memory_order_relaxed); }

 private:
  Accountant& accountant_;
  std::atomic<std::uint64_t> packetsSeen_{0};
};

}  // namespace quorvel
