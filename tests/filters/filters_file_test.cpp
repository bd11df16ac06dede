#include "filters/filters_file.h"

#include <gtest/gtest.h>

#include "engine/engine_state.h"
#include "persistence/scratch_directory.h"

namespace quorvel {
namespace {

using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

const std::vector<FilterRule> kExampleRules = {{"10.1.1", "iexplorer"}, {"<ANY>", "my app.exe"}};

TEST(FiltersFileTest, WritesTheModeAndRulesInOrderAndReadsThemBack) {
  const struct {
    std::vector<FilterRule> rules;
    FilterMode mode;
    std::string bytes;  // empty: the golden file
    std::vector<FilterRule> readBack;
  } cases[] = {
      {kExampleRules, FilterMode::kBlackList, "", kExampleRules},
      {{}, FilterMode::kWhiteList, "2\r\n", {}},
      {{{"b", "2"}, {"a", "1"}, {" lead", "caf\xC3\xA9"}},
       FilterMode::kBlackList,
       "1\r\nb 2\r\na 1\r\n?lead caf\xE9\r\n",
       {{"b", "2"}, {"a", "1"}, {" lead", "caf\xC3\xA9"}}},
      // An empty remote pattern would shift the local one into its place.
      {{{"", "app"}, {"host", ""}},
       FilterMode::kBlackList,
       "1\r\n<ANY> app\r\nhost \r\n",
       {{"<ANY>", "app"}, {"host", ""}}},
      // Blanks are written as "?", and a typed "?" comes back as a blank.
      {{{"my host", "my app.exe"}, {"<ANY>", "<ANY>"}, {"a?b", "x"}},
       FilterMode::kWhiteList,
       "2\r\nmy?host my?app.exe\r\n<ANY> <ANY>\r\na?b x\r\n",
       {{"my host", "my app.exe"}, {"<ANY>", "<ANY>"}, {"a b", "x"}}},
  };
  for (const auto& c : cases) {
    ScratchDirectory dir;
    ASSERT_TRUE(WriteFiltersFile(FiltersFilePath(DataDirectory(dir.path())), c.rules, c.mode).ok);
    const std::string expected = c.bytes.empty() ? ReadBytes(testing::GoldenFile(__FILE__, "filters.dat")) : c.bytes;
    EXPECT_EQ(ReadBytes(dir / "filters.dat"), expected);
    const FiltersFileContent content = ReadFiltersFile(dir / "filters.dat");
    EXPECT_EQ(content.mode, c.mode);
    EXPECT_EQ(content.rules, c.readBack) << expected;
  }
}

TEST(FiltersFileTest, ReadsLinesAsTheirTokens) {
  const auto black = FilterMode::kBlackList, white = FilterMode::kWhiteList;
  const struct {
    std::string bytes;
    std::optional<FilterMode> mode;
    std::vector<FilterRule> rules;
  } cases[] = {
      {"", std::nullopt, {}},
      {"\r\n", white, {}},
      {"2\r\n", white, {}},
      {"1", black, {}},
      {"1 trailing words\n", black, {}},
      {"01\n", black, {}},
      {"  +1\n", black, {}},
      {"-1\n", white, {}},
      {"11\n", white, {}},
      {"black\n", white, {}},
      {"4294967297\n", white, {}},
      {"1\nhost\n", black, {{"host", ""}}},
      {"1\n \t \n\n", black, {}},
      {"1\nwhat?s ?\n", black, {{"what s", " "}}},
      {"1\na b c d\n", black, {{"a", "b"}}},
      {"1\n\ta\tb\r\n", black, {{"a", "b"}}},
      {"1\nh\xF6st x\n", black, {{"h\xC3\xB6st", "x"}}},
      // Tokens are cut at 259 characters, lines at 519.
      {"1\n" + std::string(300, 'r') + " " + std::string(300, 'l') + "\n" + std::string(515, 'x') + " yyyy\n",
       black,
       {{std::string(259, 'r'), std::string(218, 'l')}, {std::string(259, 'x'), "yyy"}}},
  };
  for (const auto& c : cases) {
    const FiltersFileContent content = ReadFiltersText(c.bytes);
    EXPECT_EQ(content.mode, c.mode) << c.bytes;
    EXPECT_EQ(content.rules, c.rules) << c.bytes;
  }
  std::string many = "1\n";
  for (int i = 0; i < 200000; ++i) many += "r\n";
  EXPECT_EQ(ReadFiltersText(many).rules.size(), 100000u) << "rules are capped";
}

TEST(FiltersFileTest, BadFilesGiveNoRulesOrTheReadablePart) {
  ScratchDirectory dir;
  const FiltersFileContent missing = ReadFiltersFile(dir / "filters.dat");
  EXPECT_FALSE(missing.mode);
  EXPECT_TRUE(missing.rules.empty());

  std::string binary = "1\n";
  for (int i = 0; i < 50000; ++i) binary += static_cast<char>((i * 97 + 3) % 256);
  WriteBytes(dir / "filters.dat", binary);
  const FiltersFileContent garbage = ReadFiltersFile(dir / "filters.dat");
  EXPECT_EQ(garbage.mode, FilterMode::kBlackList);
  for (const FilterRule& rule : garbage.rules) {
    EXPECT_LE(rule.remotePattern.size(), 2 * 259u);
    EXPECT_LE(rule.localPattern.size(), 2 * 259u);
  }
  // Enormous: a first line far beyond any limit, then a rule.
  WriteBytes(dir / "filters.dat", std::string(30 << 20, '2') + "\nkept rule\n");
  const FiltersFileContent huge = ReadFiltersFile(dir / "filters.dat");
  EXPECT_EQ(huge.mode, FilterMode::kWhiteList);
  EXPECT_TRUE(huge.rules.empty()) << "the file is read only up to a sane size";
}

TEST(FiltersFileTest, RefusesPatternsTheFileCannotHoldAndWritesNothing) {
  const std::string prefix = "Can't save the filters: the text ";
  const std::pair<FilterRule, std::string> cases[] = {
      {{"<ANY>", "\xE5\xBE\xAE\xE4\xBF\xA1"},
       prefix + "\"\xE5\xBE\xAE\xE4\xBF\xA1\" contains \"\xE5\xBE\xAE\" (U+5FAE), but only characters up to U+00FF can "
                "be stored"},
      {{"a\tb", "x"}, prefix + "\"a\tb\" contains a tab or a line break"},
      {{"x", "line\nbreak"}, prefix + "\"line\nbreak\" contains a tab or a line break"},
  };
  for (const auto& [rule, message] : cases) {
    ScratchDirectory dir;
    WriteBytes(dir / "filters.dat", "1\r\nold rule\r\n");
    const Status status = WriteFiltersFile(dir / "filters.dat", {{"fine", "rule"}, rule}, FilterMode::kBlackList);
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.error, message);
    EXPECT_EQ(ReadBytes(dir / "filters.dat"), "1\r\nold rule\r\n");
    EXPECT_EQ(testing::EntryNames(dir.path()), std::vector<std::string>{"filters.dat"});
  }
  ScratchDirectory dir;
  WriteBytes(dir / "file", "");
  const auto path = dir / "file" / "filters.dat";
  EXPECT_EQ(WriteFiltersFile(path, kExampleRules, FilterMode::kBlackList).error, "Can't write to " + path.string());
}

TEST(FiltersFileTest, LoadFiltersReplacesTheEnginesRules) {
  ScratchDirectory dir;
  EngineState state;
  // No first line (or no file): the rules go, the mode stays.
  const struct {
    const char* bytes;  // nullptr: no file
    FilterMode mode;
    std::vector<FilterRule> rules;
  } cases[] = {{"1\r\n10.1.1 iexplorer\r\n", FilterMode::kBlackList, {{"10.1.1", "iexplorer"}}},
               {"2\r\n", FilterMode::kWhiteList, {}},
               {"", FilterMode::kWhiteList, {}},
               {nullptr, FilterMode::kWhiteList, {}}};
  for (const auto& c : cases) {
    std::filesystem::remove(dir / "filters.dat");
    if (c.bytes) WriteBytes(dir / "filters.dat", c.bytes);
    state.filters.rules = {{"x", "y"}};
    LoadFilters(state, dir / "filters.dat");
    EXPECT_EQ(state.filters.mode, c.mode) << (c.bytes ? c.bytes : "no file");
    EXPECT_EQ(state.filters.rules, c.rules) << (c.bytes ? c.bytes : "no file");
  }
}

}  // namespace
}  // namespace quorvel
