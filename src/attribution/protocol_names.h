#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// Display text of an IP protocol number for flows without ports, e.g.
// "ICMP protocol"; "IP protocol #%d" where the table has no entry.
std::string ProtocolName(std::uint16_t protocol);

}  // namespace quorvel
