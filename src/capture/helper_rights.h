#pragma once

#include <cstdint>

namespace quorvel {

// Capability bits as the kernel numbers them.
inline constexpr std::uint64_t RightBit(int capability) { return std::uint64_t{1} << capability; }
inline constexpr std::uint64_t kCaptureRights = RightBit(12) | RightBit(13);        // net_admin, net_raw
inline constexpr std::uint64_t kOwnerRights = RightBit(2) | RightBit(19);           // dac_read_search, sys_ptrace

// The capabilities of this process's permitted set.
std::uint64_t PermittedRights();

// Leaves exactly `keep` (as far as it is permitted) in the effective and
// permitted sets and nothing in the inheritable and ambient ones; false when
// the kernel refuses.
bool KeepOnlyRights(std::uint64_t keep);

}  // namespace quorvel
