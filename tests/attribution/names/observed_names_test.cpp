#include "attribution/names/observed_names.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

DnsAddressAnswer Answer(const std::string& name, std::uint8_t last, std::uint32_t ttl, std::uint8_t size = 4) {
  DnsAddressAnswer answer;
  answer.name = name;
  answer.address = {10, 0, 0, last};
  answer.addressSize = size;
  answer.ttlSeconds = ttl;
  return answer;
}

TEST(ObservedNamesTest, KeepsNamesForTheirClampedTtlAndDropsTheOldestWhenFull) {
  ObservedNames names(4);
  const DnsAddressAnswer v6 = Answer("six.test", 9, 60, 16);
  names.Learn({Answer("zero.test", 1, 0), Answer("day.test", 2, 1'000'000), Answer("hour.test", 3, 3600), v6}, 0);
  const auto nameAt = [&names](const IpAddress& address, std::int64_t now) {
    const ObservedName name = names.Find(address, now);
    return name ? *name : "-";
  };
  const auto v4 = [](std::uint8_t last) { return IpAddress(MakeIpv4(10, 0, 0, last)); };
  const struct {
    IpAddress address;
    std::int64_t now;
    const char* expected;
  } cases[] = {
      {v4(1), 599, "zero.test"},
      {v4(1), 600, "-"},  // at least 10 minutes
      {v4(2), 86'399, "day.test"},
      {v4(2), 86'400, "-"},  // at most a day
      {v4(3), 3599, "hour.test"},
      {v4(3), 3600, "-"},
      {IpAddress::Ipv6(v6.address.data()), 599, "six.test"},
      {v4(9), 0, "-"},  // an AAAA answer names only its IPv6 address
  };
  for (const auto& c : cases) EXPECT_EQ(nameAt(c.address, c.now), c.expected) << IpToText(c.address) << "@" << c.now;
  // Relearning 1 makes 2 the oldest; a fifth address pushes it out.
  names.Learn({Answer("again.test", 1, 600)}, 10);
  names.Learn({Answer("new.test", 4, 600)}, 20);
  EXPECT_EQ(names.Size(), 4u);
  EXPECT_EQ(nameAt(v4(2), 30), "-");
  EXPECT_EQ(nameAt(v4(1), 30), "again.test");
  EXPECT_EQ(nameAt(v4(4), 30), "new.test");
}

}  // namespace
}  // namespace quorvel
