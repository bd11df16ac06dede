#include "attribution/names/hello_assembler.h"

#include <gtest/gtest.h>

#include "support/name_packets.h"

namespace quorvel {
namespace {

// A ClientHello whose server name lies past its first 1400 bytes, sent as
// two segments; the second comes `delay` seconds after the first.
TEST(HelloAssemblerTest, LongHelloIsNamedWhenItsRestComesInTime) {
  const auto hello = testing::TlsRecord(testing::BuildClientHello("late.example", true, 1500));
  const std::span<const std::uint8_t> bytes(hello);
  const HelloKey key{6, 40000, MakeIpv4(10, 0, 0, 1), 443};
  const struct {
    std::int64_t delay;
    std::uint32_t secondSequence;
    std::optional<std::string> expected;
  } cases[] = {{2, 1400, "late.example"},
               {3, 1400, std::nullopt},   // expired: later packets stop paying for it
               {0, 1401, std::nullopt}};  // not the next byte
  for (const auto& c : cases) {
    HelloAssembler hellos;
    EXPECT_EQ(hellos.AddTcpSegment(key, 0, bytes.first(1400), 100), std::nullopt);
    EXPECT_TRUE(hellos.Waiting());
    hellos.Expire(100 + c.delay);
    EXPECT_EQ(hellos.AddTcpSegment(key, c.secondSequence, bytes.subspan(1400), 100 + c.delay), c.expected)
        << c.delay << " s, sequence " << c.secondSequence;
  }
}

}  // namespace
}  // namespace quorvel
