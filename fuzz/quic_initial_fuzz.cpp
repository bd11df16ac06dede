// QUIC datagrams. Random bytes rarely pass authentication, so an input whose
// first byte is odd is taken as the frames of a packet the target protects
// itself: the frame and ClientHello readers behind decryption get fuzzed too.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "attribution/names/host_name_text.h"
#include "attribution/names/quic_initial.h"
#include "fuzz_check.h"
#include "support/name_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<std::uint8_t> datagram(data + 1, data + size);
  if ((data[0] & 1) != 0) {
    if (datagram.size() > 1100) return 0;
    datagram = quorvel::testing::BuildQuicClientInitial({1, 2, 3, 4, 5, 6, 7, 8}, data[0], datagram);
  }
  const auto name = quorvel::ReadQuicInitialServerName(datagram);
  if (name) FUZZ_CHECK(quorvel::CleanHostName(*name) == *name);
  return 0;
}
