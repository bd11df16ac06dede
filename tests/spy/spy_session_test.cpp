#include "spy/spy_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "persistence/scratch_directory.h"
#include "spy/spy_test_support.h"

namespace quorvel {
namespace {

using namespace std::string_literals;
using testing::AllTrafficTarget;
using testing::FeedPacket;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

class SpySessionTest : public ::testing::Test {
 protected:
  std::string Path(std::string_view name) const { return (scratch / name).string(); }

  ScratchDirectory scratch;
  SpyFeedRegistry registry;
};

TEST_F(SpySessionTest, NothingArrivesBeforeOpeningOrAfterClosingAndPendingPacketsAreOnlyCaptured) {
  SpySession session(registry, AllTrafficTarget());
  FeedPacket(registry, "early");
  session.Open();
  EXPECT_TRUE(registry.Active());
  ASSERT_TRUE(session.OpenCaptureFile(Path("p.dmp")).ok);
  session.SetCaptureToFile(true);
  FeedPacket(registry, "shown");
  session.Drain();
  FeedPacket(registry, "pending");
  session.Close();
  EXPECT_FALSE(registry.Active());
  FeedPacket(registry, "late");
  session.Drain();
  EXPECT_EQ(session.List().Lines(), std::vector<std::string>{"shown"});
  EXPECT_EQ(ReadBytes(Path("p.dmp")), "shown\r\npending\r\n");
  session.Close();  // twice is harmless
}

TEST_F(SpySessionTest, FilteredOutOrEmptyPacketsAreNeitherShownNorCaptured) {
  SpySession session(registry, AllTrafficTarget());
  session.Open();
  ASSERT_TRUE(session.OpenCaptureFile(Path("f.dmp")).ok);
  session.SetCaptureToFile(true);
  session.SetFilter(true, "get");
  FeedPacket(registry, "GET / HTTP/1.1");
  FeedPacket(registry, "POST / HTTP/1.1");
  FeedPacket(registry, "forget it");
  session.SetFilter(false, "get");
  registry.Feed(SpyPacket{"app(1): 5", MakeIpv4(10, 0, 0, 5), 443, nullptr, 10, nullptr});  // no data: no line
  FeedPacket(registry, "PUT");
  session.Drain();
  EXPECT_EQ(session.List().Lines(), (std::vector<std::string>{"GET / HTTP/1.1", "forget it", "PUT"}));
  session.Close();
  EXPECT_EQ(ReadBytes(Path("f.dmp")), "GET / HTTP/1.1\r\nforget it\r\nPUT\r\n");
}

// The stored form of a known sequence: data bytes, every LF as CR LF, and
// CR LF after each packet, appended to what the file held.
TEST_F(SpySessionTest, CaptureFileBytesAreAppendedInTextForm) {
  WriteBytes(Path("old.dmp"), "kept\r\n");
  SpySession session(registry, AllTrafficTarget());
  session.Open();
  FeedPacket(registry, "before browse");
  ASSERT_TRUE(session.OpenCaptureFile(Path("old.dmp")).ok);
  FeedPacket(registry, "box still off");
  session.SetCaptureToFile(true);
  FeedPacket(registry, "GET / HTTP/1.1\r\nHost: a\r\n\r\n\0"s);
  FeedPacket(registry, "\n");
  FeedPacket(registry, "");
  FeedPacket(registry, "\xFF\x0D\x00\x0A\x0A"s);
  session.Drain();
  session.SetFrozen(true);
  for (int i = 0; i < 40; ++i) FeedPacket(registry, "x");
  session.Drain();
  session.Close();
  std::string expected = "kept\r\n"s + "GET / HTTP/1.1\r\r\nHost: a\r\r\n\r\r\n\0\r\n"s + "\r\n\r\n" + "\r\n" +
                         "\xFF\x0D\x00\x0D\x0A\x0D\x0A\x0D\x0A"s;
  for (int i = 0; i < 40; ++i) expected += "x\r\n";
  EXPECT_EQ(ReadBytes(Path("old.dmp")), expected);
  EXPECT_EQ(session.List().Lines().size(), 26u) << "frozen: captured but no longer shown";
  EXPECT_EQ(session.List().Lines()[2], "GET / HTTP/1.1\r\nHost: a\r\n\r\n.");
}

TEST_F(SpySessionTest, BrowseMovesCaptureToTheNewFileAndAFailedOneLeavesNone) {
  SpySession session(registry, AllTrafficTarget());
  session.Open();
  session.SetCaptureToFile(true);
  FeedPacket(registry, "no file yet");
  ASSERT_TRUE(session.OpenCaptureFile(Path("a.dmp")).ok);
  FeedPacket(registry, "to a");
  ASSERT_TRUE(session.OpenCaptureFile(Path("b.dmp")).ok);
  FeedPacket(registry, "to b");
  const Status failed = session.OpenCaptureFile(Path("missing/directory/x.dmp"));
  EXPECT_EQ(failed.error, "Can't open file!");
  EXPECT_FALSE(session.CaptureFileOpen());
  FeedPacket(registry, "nowhere");
  ASSERT_TRUE(session.OpenCaptureFile(Path("c.dmp")).ok);
  session.SetCaptureToFile(false);
  FeedPacket(registry, "box off");
  session.Close();
  EXPECT_EQ(ReadBytes(Path("a.dmp")), "to a\r\n");
  EXPECT_EQ(ReadBytes(Path("b.dmp")), "to b\r\n");
  EXPECT_EQ(ReadBytes(Path("c.dmp")), "");
  EXPECT_FALSE(session.TakeWriteError());
}

TEST_F(SpySessionTest, CaptureBytesOverTheBoundAreCountedNotHalfWritten) {
  SpySession session(registry, AllTrafficTarget(), 10);
  session.Open();
  ASSERT_TRUE(session.OpenCaptureFile(Path("c.dmp")).ok);
  session.SetCaptureToFile(true);
  FeedPacket(registry, "1234");
  FeedPacket(registry, "5678");
  FeedPacket(registry, "9");  // 5 + 5 + 2 bytes would pass the bound of 10
  session.Drain();
  session.WaitUntilCaptureWritten();  // written bytes no longer count
  FeedPacket(registry, "9");
  session.Close();
  EXPECT_EQ(ReadBytes(Path("c.dmp")), "1234\r\n5678\r\n9\r\n");
  EXPECT_EQ(session.DroppedCapturePackets(), 1u);
}

TEST_F(SpySessionTest, ButtonsApplyToPacketsAfterTheClick) {
  SpySession session(registry, AllTrafficTarget());
  session.Open();
  for (int i = 0; i < 10; ++i) FeedPacket(registry, "before");
  session.SetFrozen(true);  // the ten arrived while not frozen
  for (int i = 0; i < 30; ++i) FeedPacket(registry, "after");
  session.Drain();
  EXPECT_EQ(session.List().Lines().size(), 26u);
  EXPECT_EQ(session.List().Lines()[9], "before");
  EXPECT_EQ(session.List().Lines()[10], "after");
  FeedPacket(registry, "cleared");
  session.Clear();
  EXPECT_TRUE(session.List().Lines().empty()) << "packets before Clear are cleared too";
  EXPECT_TRUE(session.List().Frozen());
}

}  // namespace
}  // namespace quorvel
