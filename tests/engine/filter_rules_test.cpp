#include "engine/filter_rules.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

struct Flow {
  std::string host;
  std::string address;
  std::string localSource;
};

TEST(FilterRulesTest, DecidesAsTheRulesSay) {
  const Flow browserToLan{"10.1.1.3", "10.1.1.3", "iexplorer.exe(300): 1025"};
  const Flow browserToOther{"host.example", "192.10.1.1", "iexplorer.exe(300): 1026"};
  const Flow browserToNear{"192.168.10.1", "192.168.10.1", "iexplorer.exe(300): 1027"};
  const Flow otherAppToLan{"10.1.1.3", "10.1.1.3", "firefox(301): 1028"};
  const Flow svchost{"update.example", "192.168.0.9", "svchost.exe(1040): 135"};
  const Flow named{"files.example", "192.168.4.4", "rsync(9): 873"};
  const Flow star{"*", "1.2.3.4", "app(1): 1"};

  const std::vector<FilterRule> browserRule = {{"10.1.1", "iexplorer"}};
  struct Case {
    const char* name;
    std::vector<FilterRule> rules;
    FilterMode mode;
    Flow flow;
    bool hidden;
  };
  const Case cases[] = {
      {"no rules, white list", {}, FilterMode::kWhiteList, svchost, false},
      {"no rules, black list", {}, FilterMode::kBlackList, svchost, false},
      {"any/any black", {{"<ANY>", "<ANY>"}}, FilterMode::kBlackList, svchost, true},
      {"any/any white", {{"<ANY>", "<ANY>"}}, FilterMode::kWhiteList, svchost, false},
      {"empty patterns match all", {{"", ""}}, FilterMode::kBlackList, named, true},
      {"browser to 10.1.1.3", browserRule, FilterMode::kBlackList, browserToLan, true},
      {"browser to 192.10.1.1", browserRule, FilterMode::kBlackList, browserToOther, true},
      {"browser to 192.168.10.1", browserRule, FilterMode::kBlackList, browserToNear, false},
      {"other app to 10.1.1.3", browserRule, FilterMode::kBlackList, otherAppToLan, false},
      {"white list shows only matches", browserRule, FilterMode::kWhiteList, browserToLan, false},
      {"white list hides the rest", browserRule, FilterMode::kWhiteList, otherAppToLan, true},
      {"any remote, svchost", {{"<ANY>", "svchost"}}, FilterMode::kBlackList, svchost, true},
      {"any remote, svchost, other app", {{"<ANY>", "svchost"}}, FilterMode::kBlackList, named, false},
      {"case-sensitive", {{"<ANY>", "Svchost"}}, FilterMode::kBlackList, svchost, false},
      {"address matches beside a host name", {{"192.168", "<ANY>"}}, FilterMode::kBlackList, named, true},
      {"host matches", {{"files.ex", "rsync"}}, FilterMode::kBlackList, named, true},
      {"<ANY> only as a whole pattern", {{"x<ANY>", "<ANY>"}}, FilterMode::kBlackList, named, false},
      {"* is literal", {{"*", "<ANY>"}}, FilterMode::kBlackList, named, false},
      {"* matches a literal *", {{"*", "<ANY>"}}, FilterMode::kBlackList, star, true},
      {"second rule matches",
       {{"nomatch", "<ANY>"}, {"<ANY>", "rsync"}},
       FilterMode::kBlackList,
       named,
       true},
      {"a blank in a pattern", {{"<ANY>", "(9): 873"}}, FilterMode::kBlackList, named, true},
  };
  for (const Case& c : cases) {
    FilterSet filters{c.rules, c.mode};
    EXPECT_EQ(filters.IsHiddenByFilters(c.flow.host, c.flow.address, c.flow.localSource), c.hidden) << c.name;
  }
}

}  // namespace
}  // namespace quorvel
