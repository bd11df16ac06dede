#include "persistence/traffic_log.h"

#include <gtest/gtest.h>

#include <clocale>

#include "common/format.h"
#include "persistence/log_sort.h"
#include "persistence/scratch_directory.h"

namespace quorvel {
namespace {

using testing::EntryNames;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

TEST(TrafficLogTest, WritesTheGoldenFileBottomRowFirstAndNeverOverwrites) {
  // The list's rows top to bottom.
  const std::vector<LogRow> rows = {
      {"192.168.0.7: 80", "www.example.com", "1.50 KB", "512 B", "2.00 KB", "svchost.exe(1040): 135",
       "2005-10-12 14:30:05", "2005-10-12 14:31:00", "/usr/bin/firefox-esr"},
      {"10.0.0.1", "intranet.example", "900 B", "0 B", "900 B", "curl(77): 41000", "2005-10-12 14:30:02",
       "2005-10-12 14:30:03", ""},
      {"10.0.0.9: 443", "caf\xC3\xA9.example", "2.00 MB", "1.00 KB", "2.00 MB", "app(12): 5000",
       "2005-10-12 14:29:59", "2005-10-12 14:30:01", "/opt/caf\xC3\xA9/bin/app"},
  };
  ScratchDirectory dir;
  const std::int64_t now = 1129127405;  // 2005-10-12 14:30:05 UTC
  const std::string display = FormatTimestamp(now);
  const NewFileResult result = WriteTrafficLog(dir.path(), rows, now);
  ASSERT_TRUE(result.status.ok) << result.status.error;
  EXPECT_EQ(result.path, dir / *LogFileNameFor(display));
  EXPECT_EQ(ReadBytes(result.path), ReadBytes(testing::GoldenFile(__FILE__, "traffic.log")));
  // The viewer shows the file reversed, so in list order again.
  EXPECT_EQ(ReadTrafficLog(result.path), std::vector<LogRow>(rows.rbegin(), rows.rend()));

  // More saves within the same second get names of their own.
  for (int i = 2; i <= 3; ++i) {
    const NewFileResult again = WriteTrafficLog(dir.path(), {{"row " + std::to_string(i)}}, now);
    EXPECT_EQ(LogDisplayName(again.path.filename().string()), display + " " + std::to_string(i));
    EXPECT_EQ(ReadTrafficLog(again.path).at(0)[0], "row " + std::to_string(i));
  }
  EXPECT_EQ(EntryNames(dir.path()).size(), 3u) << "no temporary file is left";
  EXPECT_EQ(WriteTrafficLog(result.path, rows, now).status.error,
            "Can't write to " + (result.path / *LogFileNameFor(display)).string());
}

TEST(TrafficLogTest, MapsFileNamesToDisplayTexts) {
  const std::pair<std::string, std::string> cases[] = {
      {"2005-10-12_14t30t05.log", "2005-10-12 14:30:05"},
      {"2005-10-12_14t30t05_2.log", "2005-10-12 14:30:05 2"},
      {"report.v2.log", "repor:"},
      {"a.log", "a"},
      {"no_dash", "no dash"},
      {".log", ""},
      {"caf\xE9.log", "caf\xC3\xA9"},  // not UTF-8: shown as Latin-1
  };
  for (const auto& [file, display] : cases) EXPECT_EQ(LogDisplayName(file), display) << file;
  EXPECT_EQ(LogFileNameFor("2005-10-12 14:30:05"), "2005-10-12_14t30t05.log");
  EXPECT_EQ(LogFileNameFor("0-00-00 -1:-1:-1"), "0-00-00_-1t-1t-1.log");
  for (const char* bad : {"", "a.b", "a_b", "at", "a/b"}) EXPECT_FALSE(LogFileNameFor(bad)) << bad;
  EXPECT_EQ(LogDisplayName(*LogFileNameFor("2005-10-12 14:30:05 2")), "2005-10-12 14:30:05 2");
}

TEST(TrafficLogTest, WritesEveryFieldAsOneToken) {
  // Characters above U+00FF and bytes that are no UTF-8 become "?".
  const std::string bytes = FormatTrafficLog(
      {{"", " ", "1.50 KB", "a\tb", "x\r\ny", "\xE5\xBC\xA0(1): 2", "caf\xC3\xA9", "\xF0\x9F\x98\x80\xFF", ""}});
  EXPECT_EQ(bytes, "_ _ 1.50_KB a_b x__y ?(1):_2 caf\xE9 ?? _\r\n");
  EXPECT_EQ(ReadTrafficLogText(bytes),
            (std::vector<LogRow>{{"", "", "1.50 KB", "a b", "x  y", "?(1): 2", "caf\xC3\xA9", "??", ""}}));
  EXPECT_EQ(FormatTrafficLog({}), "");
  const LogRow longest{"2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff: 65535", "2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff",
                       "1 B", "2 B", "3 B", "curl(5): 40000", "2026-12-07 10:00:00", "2026-12-07 10:00:01",
                       "/usr/bin/curl"};
  EXPECT_EQ(ReadTrafficLogText(FormatTrafficLog({longest})), std::vector<LogRow>{longest}) << "read back whole";
}

TEST(TrafficLogTest, ReadsWithTheViewersLimitsAndSurvivesHostileFiles) {
  const std::string line = "a " + std::string(600, 'h') + " 3 4 5 " + std::string(300, 'p') + " 7 8 " +
                           std::string(300, 'q') + " ten eleven";
  const std::vector<LogRow> rows = ReadTrafficLogText(line + "\n   \t \r\nonly two\r\n\r\n" +
                                                      std::string(2500, 'x') + " beyond\nlast_line_no_end");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (LogRow{"a", std::string(499, 'h'), "3", "4", "5", std::string(259, 'p'), "7", "8",
                             std::string(259, 'q')}));
  EXPECT_EQ(rows[1], (LogRow{"only", "two", "", "", "", "", "", "", ""}));
  EXPECT_EQ(rows[2], (LogRow{std::string(49, 'x')})) << "a line is read up to 1999 characters";
  EXPECT_EQ(rows[3][0], "last line no end");

  ScratchDirectory dir;
  EXPECT_TRUE(ReadTrafficLog(dir / "missing.log").empty());
  EXPECT_TRUE(ReadTrafficLog(dir.path()).empty());
  std::string binary;
  for (int i = 0; i < 100000; ++i) binary += static_cast<char>((i * 131 + 7) % 256);
  for (const LogRow& row : ReadTrafficLogText(binary)) {
    for (std::size_t i = 0; i < kLogFieldCount; ++i) EXPECT_LE(row[i].size(), 2 * kLogFieldLimits[i]);
  }
  // An enormous line of one token: one cut row, quickly.
  WriteBytes(dir / "huge.log", std::string(50 << 20, 'z') + "\nsecond line");
  const std::vector<LogRow> huge = ReadTrafficLog(dir / "huge.log");
  ASSERT_EQ(huge.size(), 2u);
  EXPECT_EQ(huge[0][0], std::string(49, 'z'));
  EXPECT_EQ(huge[1][0], "second");
}

TEST(TrafficLogTest, ListsEveryLogButClearsOnlyTheProgramsOwn) {
  ScratchDirectory dir;
  EXPECT_TRUE(ListLogs(dir / "missing").empty());
  EXPECT_TRUE(ClearAllLogs(dir / "missing").ok);
  std::vector<std::string> others = {"a.log", "c.txt", "2005-10-12_14t30t05.log.bak", "2005-10-12_14t30t05_.log",
                                     "2005-1-12_14t30t05.log", "x2005-10-12_14t30t05.log"};
  for (const auto& name : others) WriteBytes(dir / name, "1\n");
  for (const char* own : {"2005-10-12_14t30t05.log", "2005-10-12_14t30t05_2.log", "12005-01-01_00t00t00_1000.log"}) {
    WriteBytes(dir / own, "1\n");
  }
  std::filesystem::create_directory(dir / "2006-10-12_14t30t05.log");
  EXPECT_EQ(ListLogs(dir.path()).size(), 7u);
  EXPECT_EQ(ListLogs(dir.path())[0].displayText, "12005-01-01 00:00:00 1000");
  EXPECT_TRUE(ClearAllLogs(dir.path()).ok);
  others.push_back("2006-10-12_14t30t05.log");
  std::sort(others.begin(), others.end());
  EXPECT_EQ(EntryNames(dir.path()), others);
}

TEST(LogSortTest, ReadsByteTextsWhateverTheLocale) {
  const std::pair<std::string, double> cases[] = {
      {"900 B", 900}, {"1.50 KB", 1536}, {"2.00 MB", 2097152}, {"1 GB", 1073741824},
      {"3.5", 3.5},   {"  7Kilo", 7168}, {"+2 K", 2048},       {"", 0},
      {"KB", 0},      {"abc 1", 0},      {"nan", 0},           {"-1 KB", -1024},
  };
  for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(LogByteTextValue(text), value) << text;
  const std::string old = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {  // a decimal comma
    EXPECT_DOUBLE_EQ(LogByteTextValue("1.50 KB"), 1536);
    std::setlocale(LC_NUMERIC, old.c_str());
  }
}

TEST(LogSortTest, SortsLargestFirstAndKeepsTiesInOrder) {
  const std::pair<const char*, const char*> cells[] = {
      {"b.example", "900 B"}, {"a.example", "1.50 KB"}, {"c.example", "2.00 MB"}, {"b.example", "1536 B"}, {"z", "x"}};
  std::vector<LogRow> rows;
  for (const auto& [host, dl] : cells) {
    rows.push_back({"r", host, dl, "", "", "", "", "", std::to_string(rows.size() + 1)});
  }
  const auto order = [&rows] {
    std::string tags;
    for (const LogRow& row : rows) tags += row[8];
    return tags;
  };
  SortLogRows(rows, 2);
  EXPECT_EQ(order(), "32415");
  SortLogRows(rows, 1);
  EXPECT_EQ(order(), "53412");
  SortLogRows(rows, 9);
  EXPECT_EQ(order(), "53412") << "no such column";
}

}  // namespace
}  // namespace quorvel
