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
using Names = std::vector<std::string>;

TEST(TextFileTest, ReplacesTheFileKeepingItsModeAndLeavesNoTemporary) {
  ScratchDirectory dir;
  WriteBytes(dir / "set.dat", "old contents\r\n");
  ::chmod((dir / "set.dat").c_str(), 0640);
  ASSERT_TRUE(WriteFileAtomically(dir / "set.dat", "new\r\n").ok);
  ASSERT_TRUE(WriteFileAtomically(dir / "share" / "quorvel" / "filters.dat", "1\r\n").ok) << "directories made";
  EXPECT_EQ(ReadBytes(dir / "set.dat"), "new\r\n");
  EXPECT_EQ(ReadBytes(dir / "share" / "quorvel" / "filters.dat"), "1\r\n");
  EXPECT_EQ(EntryNames(dir.path()), (Names{"set.dat", "share"}));
  struct stat info {};
  ASSERT_EQ(::stat((dir / "set.dat").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u) << "a user's permissions are kept";
}

TEST(TextFileTest, AFailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
  ScratchDirectory dir;
  WriteBytes(dir / "plain", "x");
  WriteBytes(dir / "filters.dat", "1\r\nold rule\r\n");
  std::filesystem::create_directory(dir / "set.dat");
  WriteBytes(dir / "set.dat" / "inside", "kept");
  // Root may write anywhere, but neither below a file nor over a directory.
  const auto below = dir / "plain" / "set.dat";
  EXPECT_EQ(WriteFileAtomically(below, "0\r\n").error, "Can't write to " + below.string());
  EXPECT_FALSE(WriteFileAtomically(dir / "set.dat", "x").ok);
  EXPECT_EQ(ReadBytes(dir / "set.dat" / "inside"), "kept");
  // A file size limit makes the write itself fail part way, as a full disk would.
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const Status status = WriteFileAtomically(dir / "filters.dat", std::string(4096, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(status.error, "Can't write to " + (dir / "filters.dat").string());
  EXPECT_EQ(ReadBytes(dir / "filters.dat"), "1\r\nold rule\r\n");
  EXPECT_EQ(EntryNames(dir.path()), (Names{"filters.dat", "plain", "set.dat"}));
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
  EXPECT_EQ(WriteNewFileAtomically(dir.path(), "more", name, 3).status.error, "Can't write to " + (dir / "a1").string());

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
  EXPECT_EQ(EntryNames(dir.path()), (Names{"a1", "a2", "a3"}));
}

TEST(TextFileTest, SplitsLinesCutsLongOnesAndSplitsTokens) {
  const std::pair<std::string, Names> cases[] = {
      {"", {}},
      {"one\r\ntwo\r\n", {"one", "two"}},
      {"one\ntwo", {"one", "two"}},
      {"\r\n\n", {"", ""}},
      {"abcdefghij-rest ignored\r\nnext\r\n", {"abcdefghij", "next"}},
      {"exactly10!\r\n", {"exactly10!"}},
      {"mid\rcr\n", {"mid\rcr"}},
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (const auto& [text, expected] : cases) {
    LineReader reader(text);
    Names lines;
    for (std::string_view line; reader.Next(10, line);) lines.emplace_back(line);
    EXPECT_EQ(lines, expected) << text;
  }
  std::string_view rest = " \tone two\r\v\fthree  ";
  Names tokens;
  while (const auto token = NextToken(rest)) tokens.emplace_back(*token);
  EXPECT_EQ(tokens, (Names{"one", "two", "three"}));
}

TEST(TextFileTest, ReadsOnlyRegularFilesAndOnlyUpToTheCap) {
  ScratchDirectory dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  // A device is not a data file; a FIFO without writer must not block.
  for (const auto& path : {dir / "missing", dir.path(), std::filesystem::path("/dev/zero"), dir / "fifo"}) {
    EXPECT_FALSE(ReadFileHead(path, 100)) << path;
  }
  WriteBytes(dir / "big", std::string(300000, 'z'));
  EXPECT_EQ(ReadFileHead(dir / "big", 70000), std::string(70000, 'z'));
  EXPECT_EQ(ReadFileHead(dir / "big", 1 << 20)->size(), 300000u);
}

}  // namespace
}  // namespace quorvel
