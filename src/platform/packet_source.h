#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/ipv4.h"

namespace quorvel {

// How much of each packet a capture keeps: the headers only, everything, or
// the headers plus the payloads that may carry host names, which needs the
// local address to tell outgoing packets.
enum class PayloadMode : std::uint8_t { kHeaders = 0, kWhole = 1, kNames = 2 };
struct PayloadNeed {
  PayloadMode mode = PayloadMode::kWhole;
  Ipv4Address localAddress = 0;  // kNames only
  friend bool operator==(const PayloadNeed&, const PayloadNeed&) = default;
};

// Receives each captured packet as one buffer that starts at its IPv4 header.
class PacketSink {
 public:
  virtual ~PacketSink() = default;
  // `data` is valid only during the call; `received` is the number of bytes captured.
  virtual void OnPacket(const std::uint8_t* data, std::size_t received) = 0;
  // The same with the capture's arrival time, microseconds since 1970.
  virtual void OnTimedPacket(std::int64_t /*arrivalMicroseconds*/, const std::uint8_t* data, std::size_t received) {
    OnPacket(data, received);
  }
  // Which bytes after the headers are wanted; a capture may leave out the
  // others.
  virtual PayloadNeed WantedPayload() const { return {}; }
};

struct CaptureStats {
  std::uint64_t received = 0;  // packets the kernel handed to the capture
  std::uint64_t dropped = 0;   // packets the kernel dropped for lack of buffer space
  std::uint64_t helperDropped = 0;  // packets the capture helper could not hand over
};

// One opened capture: live on an interface, or an offline file.
class PacketSource {
 public:
  enum class Next { kPackets, kTimeout, kEnd, kError };

  virtual ~PacketSource() = default;
  // Hands every waiting packet to `sink`; blocks at most about 100 ms when none
  // wait. kEnd: an offline file is finished. kError: `error` says why.
  virtual Next Dispatch(PacketSink& sink, std::string& error) = 0;
  // Thread-safe: makes a blocked Dispatch return soon.
  virtual void Interrupt() = 0;
  virtual CaptureStats Stats() const = 0;
  // Interface name or file name, for messages.
  virtual std::string Name() const = 0;
};

struct OpenedCapture {
  std::unique_ptr<PacketSource> source;  // null when the capture could not be opened
  std::string error;                     // why not, naming the interface and the system's reason
  bool promiscuousFailed = false;        // opened, but promiscuous mode was refused
};

// Opens the capture for an interface address (the interface holding it).
class PacketSourceFactory {
 public:
  virtual ~PacketSourceFactory() = default;
  virtual OpenedCapture Open(Ipv4Address interfaceAddress) = 0;
};

}  // namespace quorvel
