#include "common/format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

namespace quorvel {
namespace {

TEST(FormatBytes, UnitsAndRounding) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0, "0 B"},
      {512, "512 B"},
      {1023, "1023 B"},
      {1024, "1.00 KB"},
      {1536, "1.50 KB"},
      {1048575, "1024.00 KB"},
      {1048576, "1.00 MB"},
      {3ull << 30, "3072.00 MB"},
      {4294967295ull, "4096.00 MB"},
      {4294967296ull * 2, "8192.00 MB"},  // past 4 GiB nothing wraps
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatBytes(bytes), text) << bytes;
}

TEST(FormatBytes, IgnoresTheNumericLocale) {
  // A desktop session may run with a decimal comma; the texts are parsed back.
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  const std::string text = FormatBytes(1536);
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(text, "1.50 KB");
}

TEST(FormatTimestamp, LocalTimeFixedWidth) {
  // The tests run with TZ=UTC.
  EXPECT_EQ(FormatTimestamp(0), "1970-01-01 00:00:00");
  EXPECT_EQ(FormatTimestamp(1142414100), "2006-03-15 09:15:00");
  EXPECT_EQ(FormatTimestamp(4102444800), "2100-01-01 00:00:00");  // past 2038
  EXPECT_EQ(FormatTimestamp(INT64_MAX), "0-00-00 -1:-1:-1");      // unconvertible: placeholder fields
  // And it follows the time zone.
  const char* previous = std::getenv("TZ");
  const std::string saved = previous ? previous : "";
  setenv("TZ", "CET-1", 1);
  tzset();
  const std::string text = FormatTimestamp(0);
  previous ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
  EXPECT_EQ(text, "1970-01-01 01:00:00");
}

}  // namespace
}  // namespace quorvel
