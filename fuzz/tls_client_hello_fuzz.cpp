// First bytes of TLS connections and ClientHello messages: bounded reads.
#include <cstddef>
#include <cstdint>
#include <span>

#include "attribution/names/host_name_text.h"
#include "attribution/names/tls_client_hello.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  for (const auto& name : {quorvel::ReadTlsServerName(bytes), quorvel::ReadClientHelloServerName(bytes)}) {
    if (name) FUZZ_CHECK(quorvel::CleanHostName(*name) == *name);
  }
  return 0;
}
