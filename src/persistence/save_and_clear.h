#pragma once

#include <filesystem>

#include "common/status.h"
#include "engine/engine_state.h"
#include "platform/clock.h"

namespace quorvel {

// "&Save and  Clear": writes the flow list, top to bottom, as a new traffic
// log in `logDirectory`, then starts counting afresh: flow table and proxy
// flows, cumulative totals, the rows, then both remote maps, in that order.
// When the log cannot be written nothing is cleared and the failure (such as
// "Can't write to <path>") is returned. User-interface thread; takes
// listMutex and statMutex one at a time, graphMutex inside statMutex.
Status SaveAndClear(EngineState& state, const std::filesystem::path& logDirectory, Clock& clock);

}  // namespace quorvel
