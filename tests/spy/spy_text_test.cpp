#include "spy/spy_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel {
namespace {

using namespace std::string_literals;

TEST(SpyTextTest, DataBytesNeverPassTheReceivedEnd) {
  const std::string buffer = "HEADERGET / HTTP/1.1\r\n\0tail"s;
  const auto* base = reinterpret_cast<const std::uint8_t*>(buffer.data());
  struct Case {
    const char* name;
    const std::uint8_t* data;
    std::uint16_t length;
    const std::uint8_t* end;
    std::string expected;
  };
  const Case cases[] = {
      {"length inside the buffer", base + 6, 3, base + buffer.size(), "GET"},
      {"length runs past the end", base + 6, 60000, base + 23, "GET / HTTP/1.1\r\n\0"s},
      {"nothing received after the data", base + 6, 40, base + 6, ""},
      {"end before the data", base + 6, 40, base + 2, ""},
      {"zero length", base + 6, 0, base + buffer.size(), ""},
      {"no data", nullptr, 10, nullptr, ""},
      {"no known end, nothing read", base, 10, nullptr, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::string(SpyDataBytes(SpyPacket{"", 0, 0, c.data, c.length, c.end})), c.expected) << c.name;
  }
}

// The text is UTF-8, the data Latin-1 bytes; only A-Z and a-z fold.
TEST(SpyTextTest, FilterFoldsOnlyAToZOnBothSides) {
  struct Case { const char* name; bool enabled; std::string text, data; bool passes; };
  const Case cases[] = {
      {"small letters find capitals", true, "get", "GET / HTTP/1.1", true},
      {"capitals find small letters", true, "HOST", "host: a", true},
      {"mixed", true, "gEt", "xxGeTxx", true},
      {"text missing", true, "get", "POST / HTTP/1.1", false},
      {"letters apart", true, "get", "G E T", false},
      {"box unchecked lets all pass", false, "get", "POST", true},
      {"empty text lets all pass", true, "", "POST", true},
      {"dot finds a NUL byte", true, "a.b", "a\0b"s, true},
      {"latin-1 letters are not folded", true, "\xC3\xA9", "\xC9", false},
      {"latin-1 letter found as itself", true, "\xC3\xA9t\xC3\xA9", "ETE \xE9T\xE9", true},
      {"character above U+00FF never found", true, "\xE2\x82\xAC", "\x80 \xA4", false},
      {"NUL in the text never found", true, "a\0b"s, "a\0b"s, false},
      {"longer than the data", true, "getget", "get", false},
      {"brackets only equal themselves", true, "[", "{", false},
  };
  std::string scratch;
  for (const Case& c : cases) EXPECT_EQ(SpyTextFilter(c.enabled, c.text).Passes(c.data, scratch), c.passes) << c.name;
  EXPECT_TRUE(SpyTextFilter().Passes("anything", scratch));
}

}  // namespace
}  // namespace quorvel
