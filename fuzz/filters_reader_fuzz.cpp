// Any filters file reads without fault, its rules can be asked, and what it
// gives is written and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "filters/filters_file.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const quorvel::FiltersFileContent content = quorvel::ReadFiltersText(bytes);
  if (!content.mode) {
    FUZZ_CHECK(content.rules.empty());
    return 0;
  }
  const quorvel::FilterSet filters{content.rules, *content.mode};
  filters.IsHiddenByFilters(bytes.substr(0, 64), "10.1.1.3", bytes.substr(size / 2));

  std::string file;
  FUZZ_CHECK(quorvel::FormatFiltersFile(content.rules, *content.mode, file).ok);
  const quorvel::FiltersFileContent again = quorvel::ReadFiltersText(file);
  FUZZ_CHECK(again.mode == content.mode);
  FUZZ_CHECK(again.rules == content.rules);
  return 0;
}
