#include "spy/spy_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel {
namespace {

using namespace std::string_literals;

SpyPacket PacketOver(const std::string& buffer, std::size_t offset, std::uint16_t length, std::size_t received) {
  const auto* base = reinterpret_cast<const std::uint8_t*>(buffer.data());
  return SpyPacket{"", 0, 0, base + offset, length, base + received};
}

TEST(SpyTextTest, DataBytesNeverPassTheReceivedEnd) {
  const std::string buffer = "HEADERGET / HTTP/1.1\r\n\0tail"s;
  struct Case {
    const char* name;
    std::size_t offset;
    std::uint16_t length;
    std::size_t received;
    std::string expected;
  };
  const Case cases[] = {
      {"length inside the buffer", 6, 3, buffer.size(), "GET"},
      {"length runs past the end", 6, 60000, 23, "GET / HTTP/1.1\r\n\0"s},
      {"nothing received after the data", 6, 40, 6, ""},
      {"end before the data", 6, 40, 2, ""},
      {"zero length", 6, 0, buffer.size(), ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::string(SpyDataBytes(PacketOver(buffer, c.offset, c.length, c.received))), c.expected) << c.name;
  }
  EXPECT_TRUE(SpyDataBytes(SpyPacket{"", 0, 0, nullptr, 10, nullptr}).empty());
  const auto* data = reinterpret_cast<const std::uint8_t*>(buffer.data());
  EXPECT_TRUE(SpyDataBytes(SpyPacket{"", 0, 0, data, 10, nullptr}).empty()) << "no known end, nothing read";
}

TEST(SpyTextTest, FilterFoldsOnlyAToZOnBothSides) {
  struct Case {
    const char* name;
    bool enabled;
    std::string text;  // UTF-8
    std::string data;  // Latin-1 bytes
    bool passes;
  };
  const Case cases[] = {
      {"small letters find capitals", true, "get", "GET / HTTP/1.1", true},
      {"capitals find small letters", true, "HOST", "host: a", true},
      {"mixed", true, "gEt", "xxGeTxx", true},
      {"text missing", true, "get", "POST / HTTP/1.1", false},
      {"letters apart", true, "get", "G E T", false},
      {"box unchecked lets all pass", false, "get", "POST", true},
      {"empty text lets all pass", true, "", "POST", true},
      {"dot finds a NUL byte", true, "a.b", "a\0b"s, true},
      {"latin-1 letters are not folded", true, "\xC3\xA9", "\xC9", false},  // é does not find É
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
