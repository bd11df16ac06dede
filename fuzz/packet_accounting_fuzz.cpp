// Arbitrary bytes as one received packet: parsing, direction, proxy
// inspection, accounting and the spy feed must stay inside the bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "attribution/local_sources.h"
#include "engine/accounting.h"
#include "engine/capture_loop.h"
#include "platform/clock.h"

namespace {

using namespace quorvel;

class NoOwners final : public OwnerSource {
 public:
  bool ReadOwners(std::vector<SocketOwner>&) override { return false; }
};

// Reads every byte it is handed, so a pointer past the packet shows up.
class ReadingSpy final : public SpyListener {
 public:
  void OnSpyPacket(const SpyPacket& packet) override {
    for (const std::uint8_t* byte = packet.data; byte < packet.receivedEnd; ++byte) sum += *byte;
  }
  unsigned sum = 0;
};

struct Engine {
  Engine() : sources(owners, clock), accountant(state, sources, clock), loop(accountant) {
    state.settings.interfaceAddress = MakeIpv4(10, 0, 0, 7);
    state.settings.useProxy = true;
    state.settings.proxyAddress.Set(MakeIpv4(10, 0, 0, 1));
    state.settings.interfaceIpv6Addresses.Set({IpPrefix{*ParseIp("fd00::7"), 64}});
    state.settings.proxyPort = 3128;
    state.spy.Register(&spy);
  }
  NoOwners owners;
  SystemClock clock;
  EngineState state;
  LocalSources sources;
  Accountant accountant;
  CaptureLoop loop;
  ReadingSpy spy;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Engine engine;
  // An exact-size copy, so AddressSanitizer sees any read past the end.
  std::unique_ptr<std::uint8_t[]> packet(new std::uint8_t[size ? size : 1]);
  if (size) std::memcpy(packet.get(), data, size);
  // Use the first bytes as both directions so the proxy path is reached.
  if (size >= 40 && (data[0] >> 4) == 6 && (data[0] & 1)) {
    static const IpAddress local = *ParseIp("fd00::7");
    std::memcpy(packet.get() + ((data[0] & 2) ? 8 : 24), local.bytes.data(), 16);
  } else if (size >= 20 && (data[0] & 1)) {
    const Ipv4Address local = engine.state.settings.interfaceAddress.load();
    std::memcpy(packet.get() + ((data[0] & 2) ? 12 : 16), &local, 4);
  }
  engine.loop.OnPacket(packet.get(), size);
  if (engine.state.events.size() > 10000) {
    engine.state.events.clear();
    engine.state.proxyEvents.clear();
    engine.state.stats = TrafficStats{};
  }
  return 0;
}
