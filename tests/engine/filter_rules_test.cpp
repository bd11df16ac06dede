#include "engine/filter_rules.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(FilterRulesTest, DecidesAsTheRulesSay) {
  struct Flow {
    std::string host, address, localSource;
  };
  const Flow browserToLan{"10.1.1.3", "10.1.1.3", "iexplorer.exe(300): 1025"};
  const Flow browserToOther{"host.example", "192.10.1.1", "iexplorer.exe(300): 1026"};
  const Flow browserToNear{"192.168.10.1", "192.168.10.1", "iexplorer.exe(300): 1027"};
  const Flow otherAppToLan{"10.1.1.3", "10.1.1.3", "firefox(301): 1028"};
  const Flow svchost{"update.example", "192.168.0.9", "svchost.exe(1040): 135"};
  const Flow named{"files.example", "192.168.4.4", "rsync(9): 873"};
  const Flow star{"*", "1.2.3.4", "app(1): 1"};
  const Flow ipv6{"2001:db8:0:5::9", "2001:db8:0:5::9", "curl(5): 40000"};
  const std::vector<FilterRule> browser = {{"10.1.1", "iexplorer"}};
  const FilterMode black = FilterMode::kBlackList, white = FilterMode::kWhiteList;
  const struct {
    const char* name;
    std::vector<FilterRule> rules;
    FilterMode mode;
    Flow flow;
    bool hidden;
  } cases[] = {
      {"no rules, white list", {}, white, svchost, false},
      {"no rules, black list", {}, black, svchost, false},
      {"any/any black", {{"<ANY>", "<ANY>"}}, black, svchost, true},
      {"any/any white", {{"<ANY>", "<ANY>"}}, white, svchost, false},
      {"empty patterns match all", {{"", ""}}, black, named, true},
      {"browser to 10.1.1.3", browser, black, browserToLan, true},
      {"browser to 192.10.1.1", browser, black, browserToOther, true},
      {"browser to 192.168.10.1", browser, black, browserToNear, false},
      {"other app to 10.1.1.3", browser, black, otherAppToLan, false},
      {"white list shows only matches", browser, white, browserToLan, false},
      {"white list hides the rest", browser, white, otherAppToLan, true},
      {"any remote, svchost", {{"<ANY>", "svchost"}}, black, svchost, true},
      {"any remote, svchost, other app", {{"<ANY>", "svchost"}}, black, named, false},
      {"case-sensitive", {{"<ANY>", "Svchost"}}, black, svchost, false},
      {"address matches beside a host name", {{"192.168", "<ANY>"}}, black, named, true},
      {"host matches", {{"files.ex", "rsync"}}, black, named, true},
      {"<ANY> only as a whole pattern", {{"x<ANY>", "<ANY>"}}, black, named, false},
      {"* is literal", {{"*", "<ANY>"}}, black, named, false},
      {"* matches a literal *", {{"*", "<ANY>"}}, black, star, true},
      {"second rule matches", {{"nomatch", "<ANY>"}, {"<ANY>", "rsync"}}, black, named, true},
      {"a blank in a pattern", {{"<ANY>", "(9): 873"}}, black, named, true},
      {"ipv6 address part", {{"2001:db8:0:5:", "<ANY>"}}, black, ipv6, true},
      {"ipv6 text as written, not expanded", {{"2001:0db8", "<ANY>"}}, black, ipv6, false},
  };
  for (const auto& c : cases) {
    const FilterSet filters{c.rules, c.mode};
    EXPECT_EQ(filters.IsHiddenByFilters(c.flow.host, c.flow.address, c.flow.localSource), c.hidden) << c.name;
  }
}

}  // namespace
}  // namespace quorvel
