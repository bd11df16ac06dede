#include "persistence/csv_export.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "persistence/text_file.h"
#include "scratch_directory.h"

namespace quorvel {
namespace {

using Records = std::vector<std::vector<std::string>>;

// Python's csv module reads the file back: fields joined by 0x1F, records ended by 0x1E.
std::string ReadBackWithPython(const std::filesystem::path& file) {
  const std::string command =
      "python3 -c \"import csv,sys\n"
      "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8'), strict=True))\n"
      "sys.stdout.buffer.write(''.join(chr(31).join(r) + chr(30) for r in rows).encode('utf-8'))\" '" +
      file.string() + "'";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
  return ::pclose(pipe) == 0 ? out : "python3 failed: " + out;
}

std::string Joined(const Records& records) {
  std::string out;
  for (const auto& record : records) {
    for (std::size_t i = 0; i < record.size(); ++i) out += (i ? "\x1F" : "") + record[i];
    out += "\x1E";
  }
  return out;
}

TEST(CsvExportTest, RowsReadBackByPythonsCsvModule) {
  const std::vector<std::string> header = {"Remote IP: port", "Remote host", "DL", "UL", "DL & UL",
                                           "Local source(PID): port", "First activity", "Last activity",
                                           "Full path", "DL bytes", "UL bytes"};
  // Texts that break naive CSV: separators, quotes, line ends, non-Latin names.
  struct Text {
    LogRow columns;
    std::uint64_t download, upload;
  };
  const std::vector<Text> texts = {
      {{"10.0.0.5: 443", "a,b.example", "1.50 KB", "512 B", "2.00 KB", "app \"x\"(12): 5", "2026-12-07 09:45:16",
        "2026-12-07 09:45:17", "/opt/a,b/\"q\""}, 1536, 512},
      {{"10.0.0.6: 80", "пример.рф", "0 B", "4.00 GB", "4.00 GB", "浏览器(7): 80", "", "", "/usr/bin/línea\r\ndos"},
       0, 4'294'967'296},
      {{}, 0, 0},
  };
  std::vector<FlowRow> rows(texts.size());
  std::vector<const FlowRow*> shown;
  Records expected = {header};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    for (std::size_t c = 0; c < kLogFieldCount; ++c) rows[i].columns[c] = texts[i].columns[c];
    rows[i].download = texts[i].download;
    rows[i].upload = texts[i].upload;
    shown.push_back(&rows[i]);
    expected.emplace_back(texts[i].columns.begin(), texts[i].columns.end());
    expected.back().push_back(std::to_string(texts[i].download));
    expected.back().push_back(std::to_string(texts[i].upload));
  }
  const std::string csv = FlowRowsCsv(shown);
  EXPECT_NE(csv.find("\r\n10.0.0.5: 443,\"a,b.example\",1.50 KB,512 B,2.00 KB,\"app \"\"x\"\"(12): 5\","), std::string::npos)
      << csv;
  EXPECT_TRUE(csv.ends_with("\r\n" + std::string(9, ',') + "0,0\r\n")) << "CR LF ends every record";

  testing::ScratchDirectory directory;
  const auto file = directory / "list.csv";
  ASSERT_TRUE(WriteFileAtomically(file, csv).ok);
  EXPECT_EQ(ReadBackWithPython(file), Joined(expected));

  // A log keeps only texts: its byte-count columns are empty.
  ASSERT_TRUE(WriteFileAtomically(file, LogRowsCsv({texts[0].columns})).ok);
  expected[1].resize(9);
  expected[1].insert(expected[1].end(), 2, "");
  EXPECT_EQ(ReadBackWithPython(file), Joined({header, expected[1]}));
}

}  // namespace
}  // namespace quorvel
