#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "capture/name_payloads.h"
#include "platform/capture_protocol.h"
#include "platform/packet_source.h"

namespace quorvel {

// The helper's capture thread: packets from the capture become records in
// frames that go to the monitor without ever waiting for it. Records that do
// not fit beside what is still unsent are counted and left out.
class PacketStream final : public PacketSink {
 public:
  static constexpr std::size_t kMaxUnsentBytes = 8 << 20;
  static constexpr std::int64_t kCountersPeriodMilliseconds = 500;

  PacketStream(int socket, PacketSource& source) : socket_(socket), source_(source) {}

  // Until `stop` is set, the capture fails or the monitor goes away.
  void Run(const std::atomic<bool>& stop);
  // From the request loop: how much of each packet to send.
  void SetPayload(const PayloadNeed& need) {
    localAddress_.store(need.localAddress, std::memory_order_relaxed);
    mode_.store(need.mode, std::memory_order_relaxed);
  }

  void OnPacket(const std::uint8_t* data, std::size_t received) override { OnTimedPacket(0, data, received); }
  void OnTimedPacket(std::int64_t arrivalMicroseconds, const std::uint8_t* data, std::size_t received) override;

 private:
  void CloseFrame(bool evenIfEmpty);
  // Sends what the socket takes now; false once the monitor is gone.
  bool Flush();
  void RefreshCounters();

  const int socket_;
  PacketSource& source_;
  std::size_t Carried(std::int64_t arrivalMicroseconds, const std::uint8_t* data, std::size_t received);

  std::atomic<PayloadMode> mode_{PayloadMode::kHeaders};
  std::atomic<Ipv4Address> localAddress_{0};
  NamePayloads names_;
  std::vector<std::uint8_t> unsent_;
  std::size_t sentBytes_ = 0;           // the front of unsent_ already sent
  std::optional<std::size_t> frame_;    // the open frame's start in unsent_
  std::size_t frameRecords_ = 0;
  CaptureCounters counters_;
  std::int64_t countersRead_ = 0;       // steady ms of the last statistics read
};

}  // namespace quorvel
