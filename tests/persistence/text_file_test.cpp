#include "persistence/text_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "persistence/scratch_directory.h"

namespace quorvel {
namespace {

using testing::EntryNames;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

TEST(TextFileTest, ReplacesTheFileAndLeavesNoTemporary) {
  ScratchDirectory dir;
  const auto path = dir / "set.dat";
  WriteBytes(path, "old contents\r\n");
  ::chmod(path.c_str(), 0640);
  ASSERT_TRUE(WriteFileAtomically(path, "new\r\n").ok);
  EXPECT_EQ(ReadBytes(path), "new\r\n");
  EXPECT_EQ(EntryNames(dir.path()), std::vector<std::string>{"set.dat"});
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u) << "a user's permissions are kept";
}

TEST(TextFileTest, CreatesAMissingDirectory) {
  ScratchDirectory dir;
  const auto path = dir / "share" / "quorvel" / "filters.dat";
  ASSERT_TRUE(WriteFileAtomically(path, "1\r\n").ok);
  EXPECT_EQ(ReadBytes(path), "1\r\n");
}

TEST(TextFileTest, NeitherBelowAFileNorOverADirectory) {
  // Root may write anywhere, but not there.
  ScratchDirectory dir;
  WriteBytes(dir / "plain", "x");
  std::filesystem::create_directory(dir / "set.dat");
  WriteBytes(dir / "set.dat" / "inside", "kept");
  const auto below = dir / "plain" / "set.dat";
  EXPECT_EQ(WriteFileAtomically(below, "0\r\n").error, "Can't write to " + below.string());
  EXPECT_FALSE(WriteFileAtomically(dir / "set.dat", "x").ok);
  EXPECT_EQ(ReadBytes(dir / "set.dat" / "inside"), "kept");
  EXPECT_EQ(EntryNames(dir.path()), (std::vector<std::string>{"plain", "set.dat"}));
}

TEST(TextFileTest, AFailedWriteKeepsTheOldFileAndRemovesTheTemporary) {
  ScratchDirectory dir;
  const auto path = dir / "filters.dat";
  WriteBytes(path, "1\r\nold rule\r\n");
  // A file size limit makes the write itself fail part way, as a full disk would.
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const Status status = WriteFileAtomically(path, std::string(4096, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(status.ok);
  EXPECT_EQ(status.error, "Can't write to " + path.string());
  EXPECT_EQ(ReadBytes(path), "1\r\nold rule\r\n");
  EXPECT_EQ(EntryNames(dir.path()), std::vector<std::string>{"filters.dat"});
}

TEST(TextFileTest, NewFilesTakeTheFirstFreeName) {
  ScratchDirectory dir;
  WriteBytes(dir / "a1", "taken");
  WriteBytes(dir / "a2", "taken");
  const auto name = [](int attempt) { return "a" + std::to_string(attempt); };
  const NewFileResult result = WriteNewFileAtomically(dir.path(), "fresh", name, 5);
  ASSERT_TRUE(result.status.ok) << result.status.error;
  EXPECT_EQ(result.path, dir / "a3");
  EXPECT_EQ(ReadBytes(dir / "a1"), "taken");
  EXPECT_EQ(ReadBytes(dir / "a3"), "fresh");

  const NewFileResult full = WriteNewFileAtomically(dir.path(), "more", name, 3);
  EXPECT_FALSE(full.status.ok);
  EXPECT_EQ(full.status.error, "Can't write to " + (dir / "a1").string());

  // Bytes asked for late are asked only once the file exists; none write nothing.
  bool asked = false;
  const auto none = [&asked]() -> std::optional<std::string> {
    asked = true;
    return std::nullopt;
  };
  EXPECT_FALSE(WriteNewFileAtomically(dir / "a1", none, name, 1).status.ok);
  EXPECT_FALSE(asked);
  EXPECT_TRUE(WriteNewFileAtomically(dir.path(), none, name, 5).status.ok);
  EXPECT_TRUE(asked);
  EXPECT_EQ(EntryNames(dir.path()), (std::vector<std::string>{"a1", "a2", "a3"}));
}

TEST(TextFileTest, SplitsLinesAndCutsLongOnes) {
  struct Case {
    std::string text;
    std::size_t max;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", 10, {}},
      {"one\r\ntwo\r\n", 10, {"one", "two"}},
      {"one\ntwo", 10, {"one", "two"}},
      {"\r\n\n", 10, {"", ""}},
      {"abcdefghij-rest ignored\r\nnext\r\n", 10, {"abcdefghij", "next"}},
      {"exactly10!\r\n", 10, {"exactly10!"}},
      {"mid\rcr\n", 10, {"mid\rcr"}},
      {std::string("a\0b\n", 4), 10, {std::string("a\0b", 3)}},
  };
  for (const Case& c : cases) {
    LineReader reader(c.text);
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.Next(c.max, line)) lines.emplace_back(line);
    EXPECT_EQ(lines, c.lines) << c.text;
  }
}

TEST(TextFileTest, SplitsTokensAtEverySeparator) {
  std::string_view rest = " \tone two\r\v\fthree  ";
  std::vector<std::string> tokens;
  while (const auto token = NextToken(rest)) tokens.emplace_back(*token);
  EXPECT_EQ(tokens, (std::vector<std::string>{"one", "two", "three"}));
}

TEST(TextFileTest, ReadsOnlyRegularFilesAndOnlyUpToTheCap) {
  ScratchDirectory dir;
  EXPECT_FALSE(ReadFileHead(dir / "missing", 100));
  EXPECT_FALSE(ReadFileHead(dir.path(), 100));
  EXPECT_FALSE(ReadFileHead("/dev/zero", 100)) << "a device is not a data file";
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(ReadFileHead(dir / "fifo", 100)) << "a FIFO without writer must not block";
  WriteBytes(dir / "big", std::string(300000, 'z'));
  const auto head = ReadFileHead(dir / "big", 70000);
  ASSERT_TRUE(head);
  EXPECT_EQ(*head, std::string(70000, 'z'));
  EXPECT_EQ(ReadFileHead(dir / "big", 1 << 20)->size(), 300000u);
}

}  // namespace
}  // namespace quorvel
