#pragma once

#include <string>

#include "common/ipv4.h"
#include "platform/clock.h"
#include "platform/packet_source.h"

namespace quorvel {

// Live capture settings. The poll timeout bounds how long Dispatch blocks
// when no packet comes; the block timeout how long a packet may wait in a
// partly filled kernel block: a short-lived client's socket is often gone
// 100 ms after its last packet, so its packets must be named sooner.
struct LiveCaptureOptions {
  int snapLength = 65535;
  int bufferBytes = 32 << 20;  // kernel ring; bursts at line rate need room
  int pollTimeoutMilliseconds = 100;
  int blockTimeoutMilliseconds = 10;
  bool promiscuous = true;
  // Immediate mode hands over every packet with its own wake-up and, with a
  // full-size snapshot, makes the kernel ring hold only a few hundred packets:
  // at 100,000 packets a second it lost a quarter of them. Blocks retired
  // after the block timeout deliver in batches at most that much later.
  bool immediate = false;
};

// Opens a live capture on the named interface; messages name it by `label`
// when one is given.
OpenedCapture OpenLiveCaptureOn(const std::string& device, const LiveCaptureOptions& options = {},
                                const std::string& label = {});

// Opens a pcap or pcapng file; Dispatch replays it and reports kEnd at its end.
// A replay clock, when given, is set to each packet's time before the packet
// is handed on.
OpenedCapture OpenCaptureFile(const std::string& path, ReplayClock* replayClock = nullptr);

// Replays one file whatever interface address it is asked for.
class OfflinePacketSourceFactory final : public PacketSourceFactory {
 public:
  explicit OfflinePacketSourceFactory(std::string path, ReplayClock* replayClock = nullptr)
      : path_(std::move(path)), replayClock_(replayClock) {}
  OpenedCapture Open(Ipv4Address interfaceAddress) override;

 private:
  std::string path_;
  ReplayClock* replayClock_;
};

}  // namespace quorvel
