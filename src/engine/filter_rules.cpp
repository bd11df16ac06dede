#include "engine/filter_rules.h"

#include <algorithm>

namespace quorvel {
namespace {

// Byte substrings of UTF-8 texts are whole characters, so this matches the
// character-wise search.
bool Contains(std::string_view text, std::string_view pattern) {
  return text.find(pattern) != std::string_view::npos;
}

bool Matches(const FilterRule& rule, std::string_view host, std::string_view address,
             std::string_view localSource) {
  const bool remote = rule.remotePattern == kAnyPattern || Contains(host, rule.remotePattern) ||
                      Contains(address, rule.remotePattern);
  const bool local = rule.localPattern == kAnyPattern || Contains(localSource, rule.localPattern);
  return remote && local;
}

}  // namespace

bool FilterSet::IsHiddenByFilters(std::string_view host, std::string_view address,
                                  std::string_view localSource) const {
  if (rules.empty()) return false;
  const bool matched = std::any_of(rules.begin(), rules.end(), [&](const FilterRule& rule) {
    return Matches(rule, host, address, localSource);
  });
  return mode == FilterMode::kBlackList ? matched : !matched;
}

}  // namespace quorvel
