#include "platform/linux/capabilities.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace quorvel {
namespace {

constexpr std::string_view kEffectiveKey = "CapEff:";

// An unreadable status gives an empty set, so every right is reported missing.
std::uint64_t OwnEffectiveCapabilities() {
  std::ifstream file("/proc/self/status");
  std::ostringstream text;
  text << file.rdbuf();
  return ParseEffectiveCapabilities(text.str()).value_or(0);
}

}  // namespace

std::optional<std::uint64_t> ParseEffectiveCapabilities(std::string_view status) {
  while (!status.empty()) {
    const auto end = status.find('\n');
    std::string_view line = status.substr(0, end);
    status.remove_prefix(end == std::string_view::npos ? status.size() : end + 1);
    if (!line.starts_with(kEffectiveKey)) continue;
    line.remove_prefix(kEffectiveKey.size());
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) return std::nullopt;
    line.remove_prefix(start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
      line.remove_suffix(1);
    }
    std::uint64_t value = 0;
    const auto [stop, error] = std::from_chars(line.data(), line.data() + line.size(), value, 16);
    if (error != std::errc() || stop != line.data() + line.size()) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

std::vector<std::string> MissingCapabilities(std::uint64_t effective,
                                             const std::vector<Capability>& needed) {
  std::vector<std::string> missing;
  for (const Capability& capability : needed) {
    if ((effective & (std::uint64_t{1} << capability.number)) == 0) missing.emplace_back(capability.name);
  }
  return missing;
}

std::vector<std::string> MissingCaptureRights() {
  return MissingCapabilities(OwnEffectiveCapabilities(), {kCapNetRaw, kCapNetAdmin});
}

}  // namespace quorvel
