// First bytes of TLS connections and ClientHello messages: bounded reads.
#include <cstddef>
#include <cstdint>
#include <span>

#include "attribution/names/hello_assembler.h"
#include "attribution/names/host_name_text.h"
#include "attribution/names/tls_client_hello.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  for (const auto& name : {quorvel::ReadTlsServerName(bytes), quorvel::ReadClientHelloServerName(bytes)}) {
    if (name) FUZZ_CHECK(quorvel::CleanHostName(*name) == *name);
  }
  // The same bytes as the first segments of one connection, cut where the
  // first byte says.
  quorvel::HelloAssembler hellos;
  const quorvel::HelloKey key{6, 40000, 0, 443};
  const std::size_t cut = size > 0 ? data[0] % (size + 1) : 0;
  std::uint32_t sequence = 7;
  for (const auto part : {bytes.first(cut), bytes.subspan(cut)}) {
    const auto name = hellos.AddTcpSegment(key, sequence, part, 0);
    if (name) FUZZ_CHECK(quorvel::CleanHostName(*name) == *name);
    sequence += static_cast<std::uint32_t>(part.size());
  }
  return 0;
}
