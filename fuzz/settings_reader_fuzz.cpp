// Any settings file reads without fault, and what it gives is written and
// read back unchanged (the "?" placeholders aside).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "persistence/settings_file.h"

using quorvel::Settings;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Settings read;
  quorvel::ReadSettingsText(bytes, read);
  quorvel::ProxyPortFromText(read.strProxyPort);

  Settings saved = read;
  std::string file;
  FUZZ_CHECK(quorvel::FormatSettingsFile(saved, file).ok);
  Settings expected = saved;
  if (expected.strProxyHost == "?") {
    expected.strProxyHost.clear();
    expected.strProxyPort.clear();
  }
  Settings again;
  quorvel::ReadSettingsText(file, again);
  FUZZ_CHECK(again.bHideLanFlows == expected.bHideLanFlows);
  FUZZ_CHECK(again.bFreezeGraph == expected.bFreezeGraph);
  FUZZ_CHECK(again.bUseProxy == expected.bUseProxy);
  FUZZ_CHECK(again.strProxyHost == expected.strProxyHost);
  FUZZ_CHECK(again.strProxyPort == expected.strProxyPort);
  FUZZ_CHECK(again.nInterfaceMask == expected.nInterfaceMask);
  return 0;
}
