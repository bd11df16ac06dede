// Request texts for the proxy host extraction: bounded host, no overrun.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/proxy_inspector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view request(reinterpret_cast<const char*>(data), size);
  const std::string host = quorvel::ExtractHost(request);
  // Each request byte becomes one character of at most two UTF-8 bytes.
  if (host.size() > 2 * quorvel::kMaxProxyHostBytes) std::abort();
  return 0;
}
