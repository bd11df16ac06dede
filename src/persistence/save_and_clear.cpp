#include "persistence/save_and_clear.h"

#include <mutex>
#include <vector>

#include "persistence/traffic_log.h"

namespace quorvel {

Status SaveAndClear(EngineState& state, const std::filesystem::path& logDirectory, Clock& clock) {
  std::vector<LogRow> rows;
  {
    std::lock_guard list(state.listMutex);
    rows = state.rows.TextsTopDown();
  }
  NewFileResult written = WriteTrafficLog(logDirectory, rows, clock.NowSeconds());
  if (!written.status.ok) return written.status;

  {
    std::lock_guard stat(state.statMutex);
    state.stats.ClearFlows();
  }
  {
    std::lock_guard stat(state.statMutex);
    state.stats.cumulativeDownload = 0;
    state.stats.cumulativeUpload = 0;
  }
  {
    std::lock_guard list(state.listMutex);
    state.rows.Clear();
  }
  {
    std::lock_guard stat(state.statMutex);
    std::lock_guard graph(state.graphMutex);
    state.stats.downloadRemotes.clear();
    state.stats.uploadRemotes.clear();
  }
  return Status::Success();
}

}  // namespace quorvel
