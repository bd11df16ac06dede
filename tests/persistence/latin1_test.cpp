#include "persistence/latin1.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(Latin1Test, ConvertsTextsUpToU00FFAndRefusesTheRest) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"", ""},
      {"plain ASCII ?_:", "plain ASCII ?_:"},
      {std::string("nul\0inside", 10), std::string("nul\0inside", 10)},
      {"caf\xC3\xA9", "caf\xE9"},
      {"\xC2\x80\xC3\xBF", "\x80\xFF"},
      {"\xC4\x80", std::nullopt},          // U+0100
      {"\xF0\x9F\x98\x80", std::nullopt},  // U+1F600
      {"\xC0\x80", std::nullopt},          // overlong NUL
      {"\xC1\xBF", std::nullopt},          // overlong U+007F
      {"\x80", std::nullopt},              // lone continuation
      {"abc\xC3", std::nullopt},           // truncated
      {"\xC3(", std::nullopt},             // lead without continuation
      {"\xFF", std::nullopt},
  };
  for (const auto& [utf8, latin1] : cases) {
    EXPECT_EQ(Utf8ToLatin1(utf8), latin1) << utf8;
    if (latin1) {
      EXPECT_EQ(Latin1ToUtf8(*latin1), utf8);
    }
  }
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  EXPECT_TRUE(IsValidUtf8(Latin1ToUtf8(all)));
  EXPECT_EQ(Utf8ToLatin1(Latin1ToUtf8(all)), all) << "every byte round-trips";
  EXPECT_TRUE(IsValidUtf8("\xE2\x82\xAC \xF4\x8F\xBF\xBF"));
  for (const char* bad : {"\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE0\x80\xAF"}) EXPECT_FALSE(IsValidUtf8(bad));
}

TEST(Latin1Test, RefusalNamesTheTextAndTheCharacter) {
  const std::string tail = ", but only characters up to U+00FF can be stored";
  EXPECT_EQ(DescribeNotLatin1("\xCE\xA9mega"), "the text \"\xCE\xA9mega\" contains \"\xCE\xA9\" (U+03A9)" + tail);
  EXPECT_EQ(DescribeNotLatin1("smile \xF0\x9F\x98\x80"),
            "the text \"smile \xF0\x9F\x98\x80\" contains \"\xF0\x9F\x98\x80\" (U+1F600)" + tail);
  // Invalid bytes are shown as U+FFFD so that the message itself is valid.
  EXPECT_EQ(DescribeNotLatin1("ab\xFF"), "the text \"ab\xEF\xBF\xBD\" is not valid UTF-8");
}

}  // namespace
}  // namespace quorvel
