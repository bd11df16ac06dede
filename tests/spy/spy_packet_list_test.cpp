#include "spy/spy_packet_list.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace quorvel {
namespace {

std::string Numbered(int n, std::size_t bytes = 0) {
  std::string line = "p" + std::to_string(n);
  if (line.size() < bytes) line.resize(bytes, '-');
  return line;
}

TEST(SpyPacketListTest, TwentySeventhPacketEmptiesTheList) {
  SpyPacketList list;
  for (int i = 1; i <= 26; ++i) list.Add(Numbered(i));
  EXPECT_EQ(list.Lines().size(), 26u);
  list.Add(Numbered(27));
  EXPECT_EQ(list.Lines(), std::vector<std::string>{"p27"});
}

TEST(SpyPacketListTest, FrozenListGrowsToTwentySixAndStays) {
  SpyPacketList list;
  for (int i = 1; i <= 10; ++i) list.Add(Numbered(i));
  list.SetFrozen(true);
  for (int i = 11; i <= 40; ++i) list.Add(Numbered(i));
  ASSERT_EQ(list.Lines().size(), 26u);
  EXPECT_EQ(list.Lines().front(), "p1");
  EXPECT_EQ(list.Lines().back(), "p26");
  const auto frozenLines = list.Lines();
  for (int i = 41; i <= 100; ++i) list.Add(Numbered(i));
  EXPECT_EQ(list.Lines(), frozenLines);
  list.SetFrozen(false);
  list.Add(Numbered(101));
  EXPECT_EQ(list.Lines(), std::vector<std::string>{"p101"});
}

TEST(SpyPacketListTest, ExtentIsNinePixelsPerByteOfTheLongestLineSinceEmptied) {
  SpyPacketList list;
  EXPECT_EQ(list.HorizontalExtent(), 0);
  list.Add(std::string(10, 'a'));
  list.Add(std::string(4, 'b'));
  EXPECT_EQ(list.HorizontalExtent(), 90);
  list.Add(std::string(65535, 'c'));
  EXPECT_EQ(list.HorizontalExtent(), 9 * 65535);
  list.SetFrozen(true);
  const std::uint64_t epoch = list.Epoch();
  list.Clear();
  EXPECT_TRUE(list.Lines().empty());
  EXPECT_EQ(list.HorizontalExtent(), 0);
  EXPECT_TRUE(list.Frozen()) << "Clear keeps the frozen state";
  EXPECT_NE(list.Epoch(), epoch);
  for (int i = 0; i < 26; ++i) list.Add(std::string(2, 'x'));
  list.SetFrozen(false);
  list.Add("y");
  EXPECT_EQ(list.HorizontalExtent(), 9) << "emptied by the 26-line rule";
}

TEST(SpyPacketListTest, CopyAllText) {
  SpyPacketList list;
  EXPECT_EQ(list.CopyAllText(), "");
  list.Add("GET /\r\n.");
  list.Add("");
  list.Add("x");
  EXPECT_EQ(list.CopyAllText(), "GET /\r\n.\n\nx\n");
}

// A batch, however long, leaves the list as its packets added one by one.
TEST(SpyPacketListTest, BatchGivesTheSameListAsOneByOne) {
  std::mt19937 random(20240611);
  int next = 0;
  for (int round = 0; round < 3000; ++round) {
    SpyPacketList oneByOne;
    SpyPacketList batched;
    const int before = static_cast<int>(random() % 30);
    for (int i = 0; i < before; ++i) {
      std::string line = Numbered(next++, random() % 12);
      oneByOne.Add(line);
      batched.Add(line);
    }
    const bool frozen = random() % 3 == 0;
    oneByOne.SetFrozen(frozen);
    batched.SetFrozen(frozen);
    SpyBatch batch;
    const std::uint32_t sizes[] = {0, 1, 25, 26, 27, 51, 52, 53, 200};
    const std::uint32_t count = round % 2 ? sizes[random() % 9] : static_cast<std::uint32_t>(random() % 80);
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string line = Numbered(next++, random() % 40);
      oneByOne.Add(line);
      batch.AddLine(line);
    }
    const std::uint64_t epochBefore = batched.Epoch();
    const auto linesBefore = batched.Lines();
    const bool changed = batched.Apply(batch);
    ASSERT_EQ(batched.Lines(), oneByOne.Lines()) << "round " << round << " count " << count;
    ASSERT_EQ(batched.HorizontalExtent(), oneByOne.HorizontalExtent()) << "round " << round;
    ASSERT_EQ(changed, batched.Lines() != linesBefore || batched.Epoch() != epochBefore) << "round " << round;
  }
}

TEST(SpyPacketListTest, BatchLinesShowNulAsDot) {
  SpyBatch batch;
  batch.AddLine(std::string("a\0b", 3));
  batch.AddLine(std::string("\0", 1));
  SpyPacketList list;
  list.Apply(batch);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"a.b", "."}));
}

}  // namespace
}  // namespace quorvel
