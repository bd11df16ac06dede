// Requests as quorvel-capture reads them, and replies as the monitor reads
// them: no overrun, and every accepted request encodes back to its bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "fuzz_check.h"
#include "platform/capture_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> body(data, size);
  if (const auto request = quorvel::ParseRequest(body)) {
    std::vector<std::uint8_t> frame;
    quorvel::AppendRequest(frame, *request);
    FUZZ_CHECK(frame.size() == size + quorvel::kFrameHeaderBytes);
    FUZZ_CHECK(std::equal(body.begin(), body.end(), frame.begin() + quorvel::kFrameHeaderBytes));
  }
  if (const auto reply = quorvel::ParseReply(body)) {
    if (const auto* packets = std::get_if<quorvel::PacketsReply>(&*reply)) {
      std::size_t bytes = 0;
      quorvel::ForEachPacketRecord(packets->records, [&](const quorvel::PacketRecord& record) {
        FUZZ_CHECK(record.bytes.size() <= record.received);
        bytes += quorvel::kPacketRecordHeaderBytes + record.bytes.size();
      });
      FUZZ_CHECK(bytes == packets->records.size());
    }
  }
  return 0;
}
