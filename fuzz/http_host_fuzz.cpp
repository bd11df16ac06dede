// First bytes of HTTP requests: bounded reads, a clean host without a port.
#include <cstddef>
#include <cstdint>
#include <span>

#include "attribution/names/host_name_text.h"
#include "attribution/names/http_host.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto host = quorvel::ReadHttpHost(std::span<const std::uint8_t>(data, size));
  if (host) FUZZ_CHECK(quorvel::CleanHostName(*host) == *host && host->find(':') == std::string::npos);
  return 0;
}
