#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// Names ("cap_net_raw", ...) of the capabilities that live capture needs and
// this process does not have in its effective set; empty when all are there.
std::vector<std::string> MissingCaptureRights();

// The effective set from a /proc/PID/status text (its "CapEff:" line).
std::optional<std::uint64_t> ParseEffectiveCapabilities(std::string_view status);

// Capability numbers as the kernel numbers them.
struct Capability {
  int number;
  const char* name;
};
inline constexpr Capability kCapDacReadSearch{2, "cap_dac_read_search"};
inline constexpr Capability kCapNetAdmin{12, "cap_net_admin"};
inline constexpr Capability kCapNetRaw{13, "cap_net_raw"};
inline constexpr Capability kCapSysPtrace{19, "cap_sys_ptrace"};

// Names of the `needed` capabilities missing from `effective`.
std::vector<std::string> MissingCapabilities(std::uint64_t effective,
                                             const std::vector<Capability>& needed);

}  // namespace quorvel
