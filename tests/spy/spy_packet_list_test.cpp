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

// 26 lines, and the 27th empties the list unless frozen; frozen, it fills
// to 26 and stays. The extent follows the longest line since emptied.
TEST(SpyPacketListTest, TwentySeventhPacketEmptiesTheListUnlessFrozen) {
  SpyPacketList list;
  list.Add(std::string(65535, 'c'));
  for (int i = 2; i <= 26; ++i) list.Add(Numbered(i));
  EXPECT_EQ(list.HorizontalExtent(), 9 * 65535);
  list.Add(Numbered(27));
  EXPECT_EQ(list.Lines(), std::vector<std::string>{"p27"});
  EXPECT_EQ(list.HorizontalExtent(), 9 * 3);
  list.SetFrozen(true);
  for (int i = 28; i <= 100; ++i) list.Add(Numbered(i));
  ASSERT_EQ(list.Lines().size(), 26u);
  EXPECT_EQ(list.Lines().front(), "p27");
  EXPECT_EQ(list.Lines().back(), "p52");
  const std::uint64_t epoch = list.Epoch();
  list.Clear();
  EXPECT_EQ(list.HorizontalExtent(), 0);
  EXPECT_TRUE(list.Frozen()) << "Clear keeps the frozen state";
  EXPECT_NE(list.Epoch(), epoch);
  list.SetFrozen(false);
  for (int i = 0; i < 27; ++i) list.Add(Numbered(i));
  EXPECT_EQ(list.Lines(), std::vector<std::string>{"p26"});
}

// A batch, however long, leaves the list as its packets added one by one.
TEST(SpyPacketListTest, BatchGivesTheSameListAsOneByOne) {
  std::mt19937 random(20240611);
  int next = 0;
  for (int round = 0; round < 3000; ++round) {
    SpyPacketList oneByOne;
    SpyPacketList batched;
    for (int i = static_cast<int>(random() % 30); i > 0; --i) {
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

}  // namespace
}  // namespace quorvel
