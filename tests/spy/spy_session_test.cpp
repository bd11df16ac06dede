#include "spy/spy_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "persistence/scratch_directory.h"
#include "spy/spy_test_support.h"

namespace quorvel {
namespace {

using namespace std::string_literals;
using testing::ReadBytes;
using Lines = std::vector<std::string>;

class SpySessionTest : public ::testing::Test {
 protected:
  std::string Path(std::string_view name) const { return (scratch / name).string(); }
  void Feed(std::string_view data, int times = 1) {
    for (int i = 0; i < times; ++i) testing::FeedPacket(registry, data);
  }
  // Opens the session capturing to `name`.
  void OpenCapturing(std::string_view name) {
    session.Open();
    ASSERT_TRUE(session.OpenCaptureFile(Path(name)).ok);
    session.SetCaptureToFile(true);
  }

  testing::ScratchDirectory scratch;
  SpyFeedRegistry registry;
  SpySession session{registry, testing::AllTrafficTarget()};
};

TEST_F(SpySessionTest, NothingArrivesBeforeOpeningOrAfterClosingAndPendingPacketsAreOnlyCaptured) {
  Feed("early");
  OpenCapturing("p.dmp");
  EXPECT_TRUE(registry.Active());
  Feed("shown");
  session.Drain();
  Feed("pending");
  session.Close();
  EXPECT_FALSE(registry.Active());
  Feed("late");
  session.Drain();
  EXPECT_EQ(session.List().Lines(), Lines{"shown"});
  EXPECT_EQ(ReadBytes(Path("p.dmp")), "shown\r\npending\r\n");
  session.Close();  // twice is harmless
}

TEST_F(SpySessionTest, FilteredOutOrEmptyPacketsAreNeitherShownNorCaptured) {
  OpenCapturing("f.dmp");
  session.SetFilter(true, "get");
  for (const char* data : {"GET / HTTP/1.1", "POST / HTTP/1.1", "forget it"}) Feed(data);
  session.SetFilter(false, "get");
  registry.Feed(SpyPacket{"app(1): 5", MakeIpv4(10, 0, 0, 5), 443, nullptr, 10, nullptr});
  Feed("PUT");
  session.Drain();
  EXPECT_EQ(session.List().Lines(), (Lines{"GET / HTTP/1.1", "forget it", "PUT"}));
  session.Close();
  EXPECT_EQ(ReadBytes(Path("f.dmp")), "GET / HTTP/1.1\r\nforget it\r\nPUT\r\n");
}

// Stored: the data bytes with every LF as CR LF, and CR LF after each packet,
// appended to what the file held. Shown: every byte as itself, NUL as a dot.
TEST_F(SpySessionTest, CaptureFileBytesAreAppendedInTextForm) {
  testing::WriteBytes(Path("old.dmp"), "kept\r\n");
  session.Open();
  Feed("before browse");
  ASSERT_TRUE(session.OpenCaptureFile(Path("old.dmp")).ok);
  Feed("box still off");
  session.SetCaptureToFile(true);
  for (const std::string& data : {"GET / HTTP/1.1\r\nHost: a\r\n\r\n\0"s, "\n"s, ""s, "\xFF\x0D\x00\x0A\x0A\xE9"s}) {
    Feed(data);
  }
  session.Drain();
  session.SetFrozen(true);
  Feed("x", 40);
  session.Drain();
  session.Close();
  std::string expected = "kept\r\n"s + "GET / HTTP/1.1\r\r\nHost: a\r\r\n\r\r\n\0\r\n"s + "\r\n\r\n" + "\r\n" +
                         "\xFF\x0D\x00\x0D\x0A\x0D\x0A\xE9\x0D\x0A"s;
  for (int i = 0; i < 40; ++i) expected += "x\r\n";
  EXPECT_EQ(ReadBytes(Path("old.dmp")), expected);
  const Lines& lines = session.List().Lines();
  EXPECT_EQ(lines.size(), 26u) << "frozen: captured but no longer shown";
  EXPECT_EQ(lines[2], "GET / HTTP/1.1\r\nHost: a\r\n\r\n.");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "\xFF\r.\n\n\xE9"), lines.end());
}

TEST_F(SpySessionTest, BrowseMovesCaptureToTheNewFileAndAFailedOneLeavesNone) {
  session.Open();
  session.SetCaptureToFile(true);
  Feed("no file yet");
  ASSERT_TRUE(session.OpenCaptureFile(Path("a.dmp")).ok);
  Feed("to a");
  ASSERT_TRUE(session.OpenCaptureFile(Path("b.dmp")).ok);
  Feed("to b");
  EXPECT_EQ(session.OpenCaptureFile(Path("missing/directory/x.dmp")).error, "Can't open file!");
  EXPECT_FALSE(session.CaptureFileOpen());
  Feed("nowhere");
  ASSERT_TRUE(session.OpenCaptureFile(Path("c.dmp")).ok);
  session.SetCaptureToFile(false);
  Feed("box off");
  session.Close();
  EXPECT_EQ(ReadBytes(Path("a.dmp")), "to a\r\n");
  EXPECT_EQ(ReadBytes(Path("b.dmp")), "to b\r\n");
  EXPECT_EQ(ReadBytes(Path("c.dmp")), "");
  EXPECT_FALSE(session.TakeWriteError());
}

TEST_F(SpySessionTest, CaptureBytesOverTheBoundAreCountedNotHalfWritten) {
  SpySession bounded(registry, testing::AllTrafficTarget(), 10);
  bounded.Open();
  ASSERT_TRUE(bounded.OpenCaptureFile(Path("c.dmp")).ok);
  bounded.SetCaptureToFile(true);
  for (const char* data : {"1234", "5678", "9"}) Feed(data);  // 5 + 5 + 2 bytes would pass the bound of 10
  bounded.Drain();
  bounded.WaitUntilCaptureWritten();  // written bytes no longer count
  Feed("9");
  bounded.Close();
  EXPECT_EQ(ReadBytes(Path("c.dmp")), "1234\r\n5678\r\n9\r\n");
  EXPECT_EQ(bounded.DroppedCapturePackets(), 1u);
}

TEST_F(SpySessionTest, ButtonsApplyToPacketsAfterTheClick) {
  session.Open();
  Feed("before", 10);
  session.SetFrozen(true);  // the ten arrived while not frozen
  Feed("after", 30);
  session.Drain();
  const Lines& lines = session.List().Lines();
  ASSERT_EQ(lines.size(), 26u);
  EXPECT_EQ(lines[9], "before");
  EXPECT_EQ(lines[10], "after");
  Feed("cleared");
  session.Clear();
  EXPECT_TRUE(session.List().Lines().empty()) << "packets before Clear are cleared too";
}

}  // namespace
}  // namespace quorvel
