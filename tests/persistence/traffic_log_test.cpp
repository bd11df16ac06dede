#include "persistence/traffic_log.h"

#include <gtest/gtest.h>

#include <clocale>

#include "mainwindow/format.h"
#include "persistence/log_sort.h"
#include "persistence/scratch_directory.h"

namespace quorvel {
namespace {

using testing::EntryNames;
using testing::GoldenFile;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

// The list's rows top to bottom, as in the golden log.
std::vector<LogRow> GoldenRows() {
  return {
      {"192.168.0.7: 80", "www.example.com", "1.50 KB", "512 B", "2.00 KB", "svchost.exe(1040): 135",
       "2005-10-12 14:30:05", "2005-10-12 14:31:00", "/usr/bin/firefox-esr"},
      {"10.0.0.1", "intranet.example", "900 B", "0 B", "900 B", "curl(77): 41000", "2005-10-12 14:30:02",
       "2005-10-12 14:30:03", ""},
      {"10.0.0.9: 443", "caf\xC3\xA9.example", "2.00 MB", "1.00 KB", "2.00 MB", "app(12): 5000",
       "2005-10-12 14:29:59", "2005-10-12 14:30:01", "/opt/caf\xC3\xA9/bin/app"},
  };
}

std::vector<LogRow> Reversed(std::vector<LogRow> rows) {
  std::reverse(rows.begin(), rows.end());
  return rows;
}

TEST(TrafficLogTest, WritesTheGoldenFileBottomRowFirst) {
  ScratchDirectory dir;
  const std::int64_t now = 1129127405;  // 2005-10-12 14:30:05 UTC
  const NewFileResult result = WriteTrafficLog(dir.path(), GoldenRows(), now);
  ASSERT_TRUE(result.status.ok) << result.status.error;
  EXPECT_EQ(result.path, dir / *LogFileNameFor(FormatTimestamp(now)));
  EXPECT_EQ(ReadBytes(result.path), ReadBytes(GoldenFile(__FILE__, "traffic.log")));
  // The viewer shows the file reversed, so in list order again.
  EXPECT_EQ(Reversed(ReadTrafficLog(result.path)), GoldenRows());
}

TEST(TrafficLogTest, SavesWithinOneSecondNeverOverwrite) {
  ScratchDirectory dir;
  const std::int64_t now = 1129127405;
  const std::string display = FormatTimestamp(now);
  std::vector<std::string> displays;
  for (int i = 0; i < 3; ++i) {
    const NewFileResult result = WriteTrafficLog(dir.path(), {{"row " + std::to_string(i)}}, now);
    ASSERT_TRUE(result.status.ok) << result.status.error;
    EXPECT_EQ(ReadTrafficLog(result.path).at(0)[0], "row " + std::to_string(i));
  }
  const std::vector<LogFileEntry> logs = ListLogs(dir.path());
  ASSERT_EQ(logs.size(), 3u);
  std::vector<std::string> names;
  for (const LogFileEntry& entry : logs) names.push_back(entry.displayText);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{display, display + " 2", display + " 3"}));
  EXPECT_EQ(EntryNames(dir.path()).size(), 3u) << "no temporary file is left";
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
  std::string bytes;
  ASSERT_TRUE(FormatTrafficLog({{"", " ", "1.50 KB", "a\tb", "x\r\ny", "", "", "", ""}}, bytes).ok);
  EXPECT_EQ(bytes, "_ _ 1.50_KB a_b x__y _ _ _ _\r\n");
  const std::vector<LogRow> rows = ReadTrafficLogText(bytes);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (LogRow{"", "", "1.50 KB", "a b", "x  y", "", "", "", ""}));
  ASSERT_TRUE(FormatTrafficLog({}, bytes).ok);
  EXPECT_EQ(bytes, "");
}

TEST(TrafficLogTest, TheLongestIpv6RemoteTextReadsBackWhole) {
  const LogRow row{"2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff: 65535", "2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff",
                   "1 B", "2 B", "3 B", "curl(5): 40000", "2026-12-07 10:00:00", "2026-12-07 10:00:01",
                   "/usr/bin/curl"};
  std::string bytes;
  ASSERT_TRUE(FormatTrafficLog({row}, bytes).ok);
  EXPECT_EQ(ReadTrafficLogText(bytes), std::vector<LogRow>{row});
}

TEST(TrafficLogTest, ReadsWithTheViewersLimits) {
  const std::string longField(600, 'h');
  const std::string line =
      "a " + longField + " 3 4 5 " + std::string(300, 'p') + " 7 8 " + std::string(300, 'q') + " ten eleven";
  const std::vector<LogRow> rows = ReadTrafficLogText(line + "\n   \t \r\nonly two\r\n\r\n" +
                                                      std::string(2500, 'x') + " beyond\nlast_line_no_end");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (LogRow{"a", std::string(499, 'h'), "3", "4", "5", std::string(259, 'p'), "7", "8",
                             std::string(259, 'q')}));
  EXPECT_EQ(rows[1], (LogRow{"only", "two", "", "", "", "", "", "", ""}));
  EXPECT_EQ(rows[2][0], std::string(49, 'x')) << "a line is read up to 1999 characters";
  EXPECT_EQ(rows[2][1], "");
  EXPECT_EQ(rows[3][0], "last line no end");
}

TEST(TrafficLogTest, BadFilesGiveTheReadablePart) {
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

TEST(TrafficLogTest, RefusesTextsAboveU00FFAndWritesNothing) {
  ScratchDirectory dir;
  std::vector<LogRow> rows = GoldenRows();
  rows[1][8] = "/home/\xE5\xBC\xA0/app";
  const NewFileResult result = WriteTrafficLog(dir.path(), rows, 1129127405);
  EXPECT_FALSE(result.status.ok);
  EXPECT_EQ(
      result.status.error,
      "Can't save the traffic log: the text \"/home/\xE5\xBC\xA0/app\" contains \"\xE5\xBC\xA0\" (U+5F20), "
      "but only characters up to U+00FF can be stored");
  EXPECT_TRUE(EntryNames(dir.path()).empty());
}

TEST(TrafficLogTest, AnUnwritableDirectoryIsReported) {
  ScratchDirectory dir;
  WriteBytes(dir / "file", "");
  const NewFileResult result = WriteTrafficLog(dir / "file", GoldenRows(), 1129127405);
  EXPECT_FALSE(result.status.ok);
  EXPECT_EQ(result.status.error,
            "Can't write to " + (dir / "file" / *LogFileNameFor(FormatTimestamp(1129127405))).string());
}

TEST(TrafficLogTest, ListsAndClearsOnlyLogFiles) {
  ScratchDirectory dir;
  EXPECT_TRUE(ListLogs(dir / "missing").empty());
  EXPECT_TRUE(ClearAllLogs(dir / "missing").ok);
  WriteBytes(dir / "b.log", "1\n");
  WriteBytes(dir / "a.log", "1\n");
  WriteBytes(dir / "c.txt", "1\n");
  WriteBytes(dir / "d.log.bak", "1\n");
  std::filesystem::create_directory(dir / "folder.log");
  const std::vector<LogFileEntry> logs = ListLogs(dir.path());
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[0].fileName, "a.log");
  EXPECT_EQ(logs[0].displayText, "a");
  EXPECT_EQ(logs[1].fileName, "b.log");

  EXPECT_TRUE(ClearAllLogs(dir.path()).ok);
  EXPECT_EQ(EntryNames(dir.path()), (std::vector<std::string>{"c.txt", "d.log.bak", "folder.log"}));
}

TEST(LogSortTest, ReadsByteTexts) {
  const std::pair<std::string, double> cases[] = {
      {"900 B", 900}, {"1.50 KB", 1536}, {"2.00 MB", 2097152}, {"1 GB", 1073741824},
      {"3.5", 3.5},   {"  7Kilo", 7168}, {"+2 K", 2048},       {"", 0},
      {"KB", 0},      {"abc 1", 0},      {"nan", 0},           {"-1 KB", -1024},
  };
  for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(LogByteTextValue(text), value) << text;
}

TEST(LogSortTest, ByteTextsIgnoreTheLocalesDecimalComma) {
  const std::string old = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale here";
  EXPECT_DOUBLE_EQ(LogByteTextValue("1.50 KB"), 1536);
  std::setlocale(LC_NUMERIC, old.c_str());
}

TEST(LogSortTest, SortsLargestFirstAndKeepsTiesInOrder) {
  const auto row = [](std::string host, std::string dl, std::string tag) {
    return LogRow{"r", std::move(host), std::move(dl), "", "", "", "", "", std::move(tag)};
  };
  std::vector<LogRow> rows = {row("b.example", "900 B", "1"), row("a.example", "1.50 KB", "2"),
                              row("c.example", "2.00 MB", "3"), row("b.example", "1536 B", "4"),
                              row("z", "none", "5")};
  SortLogRows(rows, 2);
  std::vector<std::string> order;
  for (const LogRow& r : rows) order.push_back(r[8]);
  EXPECT_EQ(order, (std::vector<std::string>{"3", "2", "4", "1", "5"}));

  SortLogRows(rows, 1);
  order.clear();
  for (const LogRow& r : rows) order.push_back(r[1] + "/" + r[8]);
  EXPECT_EQ(order,
            (std::vector<std::string>{"z/5", "c.example/3", "b.example/4", "b.example/1", "a.example/2"}));

  const std::vector<LogRow> before = rows;
  SortLogRows(rows, 9);
  EXPECT_EQ(rows, before) << "no such column";
}

}  // namespace
}  // namespace quorvel
