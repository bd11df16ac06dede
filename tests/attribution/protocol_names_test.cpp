#include "attribution/protocol_names.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(ProtocolName, TableAndFallback) {
  const std::pair<int, const char*> cases[] = {
      {1, "ICMP protocol"},         {4, "IP in IP protocol "}, {47, "GRE protocol"},      {50, "SIPP-ESP protocol"},
      {137, "MPLS-in-IP protocol"}, {124, "ISIS over IPv4"},   {0, "IP protocol #0"},     {6, "IP protocol #6"},
      {17, "IP protocol #17"},      {58, "ICMPv6 protocol"},   {114, "IP protocol #114"}, {138, "IP protocol #138"},
      {255, "IP protocol #255"},
  };
  for (const auto& [number, text] : cases) EXPECT_EQ(ProtocolName(static_cast<std::uint16_t>(number)), text) << number;
  int named = 0;  // no entry of the table is lost
  for (int number = 0; number <= 255; ++number) {
    named += ProtocolName(static_cast<std::uint16_t>(number)).rfind("IP protocol #", 0) != 0;
  }
  EXPECT_EQ(named, 125);
}

}  // namespace
}  // namespace quorvel
