#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The pattern that matches every text.
inline constexpr std::string_view kAnyPattern = "<ANY>";

// One rule: the remote pattern is looked for in the remote host and address
// texts, the local pattern in the local source text. UTF-8, at most 259
// characters each when read from the filters file.
struct FilterRule {
  std::string remotePattern;
  std::string localPattern;

  friend bool operator==(const FilterRule&, const FilterRule&) = default;
};

// The value of each mode in the filters file.
enum class FilterMode : int { kBlackList = 1, kWhiteList = 2 };

// The engine's rules in file order and how they are used.
struct FilterSet {
  std::vector<FilterRule> rules;
  FilterMode mode = FilterMode::kBlackList;

  // True when the flow's row must stay out of the list. Case-sensitive
  // substring matches; "<ANY>" as a whole pattern matches everything; an empty
  // rule list hides nothing in either mode. Callers hold listMutex.
  bool IsHiddenByFilters(std::string_view host, std::string_view address, std::string_view localSource) const;
};

}  // namespace quorvel
