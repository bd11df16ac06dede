#include "persistence/latin1.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(Latin1Test, ConvertsTextsUpToU00FFAndRefusesTheRest) {
  struct Case {
    std::string utf8;
    std::optional<std::string> latin1;
  };
  const Case cases[] = {
      {"", std::string()},
      {"plain ASCII ?_:", std::string("plain ASCII ?_:")},
      {std::string("nul\0inside", 10), std::string("nul\0inside", 10)},
      {"caf\xC3\xA9", std::string("caf\xE9")},
      {"\xC2\x80\xC3\xBF", std::string("\x80\xFF")},
      {"\xC4\x80", std::nullopt},          // U+0100
      {"\xCE\xA9mega", std::nullopt},      // U+03A9
      {"\xF0\x9F\x98\x80", std::nullopt},  // U+1F600
      {"\xC0\x80", std::nullopt},          // overlong NUL
      {"\xC1\xBF", std::nullopt},          // overlong U+007F
      {"\x80", std::nullopt},              // lone continuation
      {"abc\xC3", std::nullopt},           // truncated
      {"\xC3(", std::nullopt},             // lead without continuation
      {"\xFF", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToLatin1(c.utf8), c.latin1) << c.utf8;
    if (c.latin1) {
      EXPECT_EQ(Latin1ToUtf8(*c.latin1), c.utf8);
    }
  }
}

TEST(Latin1Test, EveryByteRoundTrips) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  const std::string utf8 = Latin1ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Utf8ToLatin1(utf8), all);
}

TEST(Latin1Test, RefusalNamesTheTextAndTheCharacter) {
  EXPECT_EQ(DescribeNotLatin1("\xCE\xA9mega"),
            "the text \"\xCE\xA9mega\" contains \"\xCE\xA9\" (U+03A9), but only characters up to U+00FF "
            "can be stored");
  EXPECT_EQ(
      DescribeNotLatin1("smile \xF0\x9F\x98\x80"),
      "the text \"smile \xF0\x9F\x98\x80\" contains \"\xF0\x9F\x98\x80\" (U+1F600), but only characters "
      "up to U+00FF can be stored");
  // Invalid bytes are shown as U+FFFD so that the message itself is valid.
  const std::string invalid = DescribeNotLatin1("ab\xFF");
  EXPECT_EQ(invalid, "the text \"ab\xEF\xBF\xBD\" is not valid UTF-8");
  EXPECT_TRUE(IsValidUtf8(invalid));
}

TEST(Latin1Test, ValidatesUtf8) {
  EXPECT_TRUE(IsValidUtf8("\xE2\x82\xAC \xF4\x8F\xBF\xBF"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong
}

}  // namespace
}  // namespace quorvel
