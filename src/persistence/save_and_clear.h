#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "common/status.h"
#include "engine/engine_state.h"
#include "platform/clock.h"

namespace quorvel {

// Takes the list out of the engine as a traffic log in `directory` and starts
// counting afresh, in one step under listMutex and statMutex: each row is
// saved with its flow's totals and last activity as counted at that moment,
// flows not yet shown (and not hidden) are saved as rows too, then the flow
// table, proxy flows, cumulative totals, rows and hidden flows are emptied,
// and with `clearRemotes` both remote maps (graphMutex inside statMutex).
// Packets counted after the cut start new flows. Nothing is taken when the
// log file cannot be created; the failure (such as "Can't write to <path>")
// is returned. With `skipEmptyLog` an empty list writes no file. nullopt
// when another cut is running: a cut is never repeated on its own rows.
std::optional<Status> CutToTrafficLog(EngineState& state, const std::filesystem::path& directory,
                                      std::int64_t now, bool clearRemotes, bool skipEmptyLog);

// "&Save and  Clear": CutToTrafficLog with the remote maps and an empty log
// too. Does nothing while another cut runs. User-interface thread or a
// thread of its own.
Status SaveAndClear(EngineState& state, const std::filesystem::path& logDirectory, Clock& clock);

}  // namespace quorvel
