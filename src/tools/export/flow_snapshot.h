#pragma once

#include <utility>
#include <vector>

#include "engine/engine_state.h"

namespace quorvel {

using FlowSnapshot = std::vector<std::pair<FlowKey, TrafficFlow>>;

// A copy of the flow table, ordered by key; statMutex is held only to copy.
FlowSnapshot TakeFlowSnapshot(EngineState& state);

}  // namespace quorvel
