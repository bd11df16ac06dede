#include "attribution/names/observed_names.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

DnsAddressAnswer Answer(const std::string& name, std::uint8_t last, std::uint32_t ttl) {
  DnsAddressAnswer answer;
  answer.name = name;
  answer.address = {10, 0, 0, last};
  answer.addressSize = 4;
  answer.ttlSeconds = ttl;
  return answer;
}

std::string NameAt(const ObservedNames& names, const IpAddress& address, std::int64_t now) {
  const ObservedName name = names.Find(address, now);
  return name ? *name : "-";
}

std::string NameAt(const ObservedNames& names, std::uint8_t last, std::int64_t now) {
  return NameAt(names, IpAddress(MakeIpv4(10, 0, 0, last)), now);
}

TEST(ObservedNamesTest, KeepsNamesForTheirClampedTtlAndDropsTheOldestWhenFull) {
  ObservedNames names(4);
  DnsAddressAnswer v6 = Answer("six.test", 9, 60);
  v6.addressSize = 16;
  const IpAddress six = IpAddress::Ipv6(v6.address.data());
  names.Learn({Answer("zero.test", 1, 0), Answer("day.test", 2, 1'000'000), Answer("hour.test", 3, 3600), v6}, 0);
  const struct {
    IpAddress address;
    std::int64_t now;
    const char* expected;
  } cases[] = {
      {MakeIpv4(10, 0, 0, 1), 599, "zero.test"}, {MakeIpv4(10, 0, 0, 1), 600, "-"},  // at least 10 minutes
      {MakeIpv4(10, 0, 0, 2), 86'399, "day.test"}, {MakeIpv4(10, 0, 0, 2), 86'400, "-"},  // at most a day
      {MakeIpv4(10, 0, 0, 3), 3599, "hour.test"}, {MakeIpv4(10, 0, 0, 3), 3600, "-"},
      {six, 599, "six.test"},
      {MakeIpv4(10, 0, 0, 9), 0, "-"},  // an AAAA answer names only its IPv6 address
  };
  for (const auto& c : cases) EXPECT_EQ(NameAt(names, c.address, c.now), c.expected) << IpToText(c.address) << "@" << c.now;

  // Relearning 1 makes 2 the oldest; a fifth address pushes it out.
  names.Learn({Answer("again.test", 1, 600)}, 10);
  names.Learn({Answer("new.test", 4, 600)}, 20);
  EXPECT_EQ(names.Size(), 4u);
  EXPECT_EQ(NameAt(names, 2, 30), "-");
  EXPECT_EQ(NameAt(names, 1, 30), "again.test");
  EXPECT_EQ(NameAt(names, 4, 30), "new.test");
}

}  // namespace
}  // namespace quorvel
