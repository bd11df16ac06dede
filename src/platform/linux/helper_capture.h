#pragma once

#include <string>

#include "platform/packet_source.h"

namespace quorvel {

// Live capture through quorvel-capture: each Open starts a helper of its own,
// which opens the interface and then holds no right at all.
class HelperPacketSourceFactory final : public PacketSourceFactory {
 public:
  explicit HelperPacketSourceFactory(std::string helperPath) : helperPath_(std::move(helperPath)) {}
  OpenedCapture Open(Ipv4Address interfaceAddress) override;

 private:
  std::string helperPath_;
};

}  // namespace quorvel
