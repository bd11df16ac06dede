#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/flow_types.h"
#include "engine/flow_rows.h"

namespace quorvel {

// Flows that the filter keeps out of the list, by row identity, so that their
// later events cost one lookup instead of a filter decision each. A flow
// decided while its remote host name was unknown waits with the row it would
// have, and is decided again when the name arrives. Forgotten when the rules
// change or the list is cleared. Guarded by listMutex.
class HiddenFlows {
 public:
  struct Waiting {
    FlowKey key;
    FlowRow row;  // as it would be shown; the last activity is kept current
  };

  // Hidden for good (decided with the name, or no name will come).
  void Hide(std::string_view remote, std::string_view localSource);
  // Hidden by the address text alone, until the address is named.
  void HideUntilNamed(FlowKey key, FlowRow row);
  // The flow's entry: null when not hidden; a hidden flow without a waiting row is hidden for good.
  struct Entry {
    std::optional<Waiting> waiting;
  };
  Entry* Find(std::string_view remote, std::string_view localSource);
  // Takes the flows of the address that wait for its name.
  std::vector<Waiting> TakeWaiting(Ipv4Address address);

  void HideProxy(std::string_view host, std::string_view localSource);
  bool IsProxyHidden(std::string_view host, std::string_view localSource) const;

  void Clear();

 private:
  static std::string Key(std::string_view first, std::string_view second);

  std::unordered_map<std::string, Entry> flows_;
  std::unordered_map<Ipv4Address, std::vector<std::string>> waitingByAddress_;
  std::unordered_set<std::string> proxyFlows_;
};

}  // namespace quorvel
