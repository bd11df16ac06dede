#include "tools/export/flow_snapshot.h"

#include <algorithm>
#include <mutex>

namespace quorvel {

FlowSnapshot TakeFlowSnapshot(EngineState& state) {
  FlowSnapshot flows;
  {
    std::lock_guard lock(state.statMutex);
    flows.assign(state.stats.flows.begin(), state.stats.flows.end());
  }
  std::sort(flows.begin(), flows.end(), [](const auto& a, const auto& b) { return FlowKeyLess(a.first, b.first); });
  return flows;
}

}  // namespace quorvel
