#include "filters/filters_file.h"

#include <gtest/gtest.h>

#include "engine/engine_state.h"
#include "persistence/scratch_directory.h"

namespace quorvel {
namespace {

using testing::EntryNames;
using testing::GoldenFile;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

const std::vector<FilterRule> kExampleRules = {{"10.1.1", "iexplorer"}, {"<ANY>", "my app.exe"}};

TEST(FiltersFileTest, WritesAndReadsTheGoldenFile) {
  ScratchDirectory dir;
  ASSERT_TRUE(
      WriteFiltersFile(FiltersFilePath(DataDirectory(dir.path())), kExampleRules, FilterMode::kBlackList).ok);
  EXPECT_EQ(ReadBytes(dir / "filters.dat"), ReadBytes(GoldenFile(__FILE__, "filters.dat")));

  const FiltersFileContent content = ReadFiltersFile(GoldenFile(__FILE__, "filters.dat"));
  EXPECT_EQ(content.mode, FilterMode::kBlackList);
  EXPECT_EQ(content.rules, kExampleRules);
}

TEST(FiltersFileTest, WritesTheModeAndRulesInOrderAndReadsThemBack) {
  const struct Case {
    std::vector<FilterRule> rules;
    FilterMode mode;
    std::string bytes;
    std::vector<FilterRule> readBack;
  } cases[] = {
      {{}, FilterMode::kWhiteList, "2\r\n", {}},
      {{{"b", "2"}, {"a", "1"}, {" lead", "caf\xC3\xA9"}},
       FilterMode::kBlackList,
       "1\r\nb 2\r\na 1\r\n?lead caf\xE9\r\n",
       {{"b", "2"}, {"a", "1"}, {" lead", "caf\xC3\xA9"}}},
      // An empty remote pattern would shift the local one into its place.
      {{{"", "app"}, {"host", ""}}, FilterMode::kBlackList, "1\r\n<ANY> app\r\nhost \r\n", {{"<ANY>", "app"}, {"host", ""}}},
      // Blanks are written as "?", and a typed "?" comes back as a blank.
      {{{"my host", "my app.exe"}, {"<ANY>", "<ANY>"}, {"a?b", "x"}},
       FilterMode::kWhiteList,
       "2\r\nmy?host my?app.exe\r\n<ANY> <ANY>\r\na?b x\r\n",
       {{"my host", "my app.exe"}, {"<ANY>", "<ANY>"}, {"a b", "x"}}},
  };
  for (const Case& c : cases) {
    ScratchDirectory dir;
    ASSERT_TRUE(WriteFiltersFile(dir / "filters.dat", c.rules, c.mode).ok);
    EXPECT_EQ(ReadBytes(dir / "filters.dat"), c.bytes);
    const FiltersFileContent content = ReadFiltersFile(dir / "filters.dat");
    EXPECT_EQ(content.mode, c.mode);
    EXPECT_EQ(content.rules, c.readBack) << c.bytes;
  }
}

TEST(FiltersFileTest, ReadsLinesAsTheSpecifiedTokens) {
  struct Case {
    std::string bytes;
    std::optional<FilterMode> mode;
    std::vector<FilterRule> rules;
  };
  const Case cases[] = {
      {"", std::nullopt, {}},
      {"\r\n", FilterMode::kWhiteList, {}},
      {"2\r\n", FilterMode::kWhiteList, {}},
      {"1", FilterMode::kBlackList, {}},
      {"1 trailing words\n", FilterMode::kBlackList, {}},
      {"01\n", FilterMode::kBlackList, {}},
      {"  +1\n", FilterMode::kBlackList, {}},
      {"-1\n", FilterMode::kWhiteList, {}},
      {"11\n", FilterMode::kWhiteList, {}},
      {"black\n", FilterMode::kWhiteList, {}},
      {"4294967297\n", FilterMode::kWhiteList, {}},
      {"1\nhost\n", FilterMode::kBlackList, {{"host", ""}}},
      {"1\n \t \n\n", FilterMode::kBlackList, {}},
      {"1\nwhat?s ?\n", FilterMode::kBlackList, {{"what s", " "}}},
      {"1\na b c d\n", FilterMode::kBlackList, {{"a", "b"}}},
      {"1\n\ta\tb\r\n", FilterMode::kBlackList, {{"a", "b"}}},
      {"1\nh\xF6st x\n", FilterMode::kBlackList, {{"h\xC3\xB6st", "x"}}},
      // Tokens are cut at 259 characters, lines at 519.
      {"1\n" + std::string(300, 'r') + " " + std::string(300, 'l') + "\n" + std::string(515, 'x') + " yyyy\n",
       FilterMode::kBlackList,
       {{std::string(259, 'r'), std::string(218, 'l')}, {std::string(259, 'x'), "yyy"}}},
  };
  for (const Case& c : cases) {
    const FiltersFileContent content = ReadFiltersText(c.bytes);
    EXPECT_EQ(content.mode, c.mode) << c.bytes;
    EXPECT_EQ(content.rules, c.rules) << c.bytes;
  }
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

  std::string many = "1\n";
  for (int i = 0; i < 200000; ++i) many += "r\n";
  EXPECT_EQ(ReadFiltersText(many).rules.size(), 100000u) << "rules are capped";
}

TEST(FiltersFileTest, RefusesPatternsTheFileCannotHoldAndWritesNothing) {
  struct Case {
    FilterRule rule;
    std::string message;
  };
  const Case cases[] = {
      {{"<ANY>", "\xE5\xBE\xAE\xE4\xBF\xA1"},
       "Can't save the filters: the text \"\xE5\xBE\xAE\xE4\xBF\xA1\" contains \"\xE5\xBE\xAE\" (U+5FAE), "
       "but "
       "only characters up to U+00FF can be stored"},
      {{"a\tb", "x"}, "Can't save the filters: the text \"a\tb\" contains a tab or a line break"},
      {{"x", "line\nbreak"},
       "Can't save the filters: the text \"line\nbreak\" contains a tab or a line break"},
  };
  for (const Case& c : cases) {
    ScratchDirectory dir;
    WriteBytes(dir / "filters.dat", "1\r\nold rule\r\n");
    const Status status = WriteFiltersFile(dir / "filters.dat", {{"fine", "rule"}, c.rule}, FilterMode::kBlackList);
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.error, c.message);
    EXPECT_EQ(ReadBytes(dir / "filters.dat"), "1\r\nold rule\r\n");
    EXPECT_EQ(EntryNames(dir.path()), std::vector<std::string>{"filters.dat"});
  }
  ScratchDirectory dir;
  WriteBytes(dir / "file", "");
  const auto path = dir / "file" / "filters.dat";
  EXPECT_EQ(WriteFiltersFile(path, kExampleRules, FilterMode::kBlackList).error, "Can't write to " + path.string());
}

TEST(FiltersFileTest, LoadFiltersReplacesTheEnginesRules) {
  ScratchDirectory dir;
  EngineState state;
  const auto path = dir / "filters.dat";

  WriteBytes(path, "2\r\n");
  LoadFilters(state, path);
  EXPECT_EQ(state.filters.mode, FilterMode::kWhiteList);
  EXPECT_TRUE(state.filters.rules.empty());
  EXPECT_FALSE(state.filters.IsHiddenByFilters("h", "1.2.3.4", "app")) << "no rules hide nothing";

  WriteBytes(path, "1\r\n10.1.1 iexplorer\r\n");
  LoadFilters(state, path);
  EXPECT_EQ(state.filters.mode, FilterMode::kBlackList);
  EXPECT_EQ(state.filters.rules, (std::vector<FilterRule>{{"10.1.1", "iexplorer"}}));

  // No first line: the rules go, the mode stays.
  state.filters.mode = FilterMode::kWhiteList;
  WriteBytes(path, "");
  LoadFilters(state, path);
  EXPECT_TRUE(state.filters.rules.empty());
  EXPECT_EQ(state.filters.mode, FilterMode::kWhiteList);

  state.filters.rules = {{"x", "y"}};
  LoadFilters(state, dir / "missing.dat");
  EXPECT_TRUE(state.filters.rules.empty());
  EXPECT_EQ(state.filters.mode, FilterMode::kWhiteList);
}

}  // namespace
}  // namespace quorvel
