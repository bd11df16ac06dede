#include "persistence/save_and_clear.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/format.h"
#include "persistence/traffic_log.h"

namespace quorvel {
namespace {

std::string PairKey(std::string_view first, std::string_view second) {
  std::string key = std::to_string(first.size());
  key += ':';
  key += first;
  key += second;
  return key;
}

struct Counted {
  std::uint64_t download = 0;
  std::uint64_t upload = 0;
  std::int64_t lastSecond = std::numeric_limits<std::int64_t>::min();
  bool any = false;
};

void SetTotals(LogRow& row, std::uint64_t download, std::uint64_t upload) {
  row[kColumnDownload] = FormatBytes(download);
  row[kColumnUpload] = FormatBytes(upload);
  row[kColumnTotal] = FormatBytes(download + upload);
}

// The log rows of everything counted so far, top to bottom. Holding
// listMutex and statMutex.
std::vector<LogRow> CountedRows(EngineState& state) {
  TrafficStats& stats = state.stats;
  std::vector<LogRow> rows = state.rows.TextsTopDown();
  // The rows show the totals of their last applied event; the flows hold
  // what was counted since. The topmost row of a key is the one updated.
  std::unordered_map<std::string, std::size_t> byEndpoint;
  std::unordered_map<std::string, std::size_t> byHost;
  for (std::size_t i = rows.size(); i-- > 0;) {
    byEndpoint[PairKey(rows[i][kColumnRemote], rows[i][kColumnLocalSource])] = i;
    byHost[PairKey(rows[i][kColumnHost], rows[i][kColumnLocalSource])] = i;
  }
  std::vector<Counted> counted(rows.size());
  std::vector<LogRow> unshown;
  for (const auto& [key, flow] : stats.flows) {
    const std::string remote = RemoteText(key.remoteAddress, key.remotePort);
    if (const auto row = byEndpoint.find(PairKey(remote, key.localSource)); row != byEndpoint.end()) {
      Counted& total = counted[row->second];
      total.download += flow.download;
      total.upload += flow.upload;
      total.lastSecond = std::max(total.lastSecond, flow.lastQueuedSecond);
      total.any = true;
      continue;
    }
    // Its event still waits: saved as the row it would get, unless hidden.
    if (state.hidden.Find(remote, key.localSource)) continue;
    const std::string address = Ipv4ToText(key.remoteAddress);
    std::string host = address;
    for (const RemoteMap* remotes : {&stats.downloadRemotes, &stats.uploadRemotes}) {
      if (const auto named = remotes->find(key.remoteAddress); named != remotes->end()) host = named->second.displayName;
    }
    if (state.filters.IsHiddenByFilters(host, address, key.localSource)) continue;
    const std::string time = FormatTimestamp(flow.lastQueuedSecond);
    LogRow row{remote, host, "", "", "", key.localSource, time, time, ""};
    SetTotals(row, flow.download, flow.upload);
    unshown.push_back(std::move(row));
  }
  for (const ProxyFlow& flow : stats.proxyFlows) {
    if (const auto row = byHost.find(PairKey(flow.host, flow.localSource)); row != byHost.end()) {
      counted[row->second].download += flow.download;
      counted[row->second].upload += flow.upload;
      counted[row->second].any = true;
    }
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!counted[i].any) continue;
    SetTotals(rows[i], counted[i].download, counted[i].upload);
    if (counted[i].lastSecond != std::numeric_limits<std::int64_t>::min()) {
      rows[i][kColumnLastActivity] = FormatTimestamp(counted[i].lastSecond);
    }
  }
  rows.insert(rows.begin(), std::make_move_iterator(unshown.begin()), std::make_move_iterator(unshown.end()));
  return rows;
}

// Takes the rows out and empties what the cut restarts.
std::vector<LogRow> Cut(EngineState& state, bool clearRemotes) {
  std::lock_guard list(state.listMutex);
  std::lock_guard stat(state.statMutex);
  std::vector<LogRow> rows = CountedRows(state);
  state.stats.ClearFlows();
  state.stats.cumulativeDownload = 0;
  state.stats.cumulativeUpload = 0;
  state.rows.Clear();
  state.hidden.Clear();
  if (clearRemotes) {
    std::lock_guard graph(state.graphMutex);
    state.stats.downloadRemotes.clear();
    state.stats.uploadRemotes.clear();
  }
  return rows;
}

}  // namespace

std::optional<Status> CutToTrafficLog(EngineState& state, const std::filesystem::path& directory,
                                      std::int64_t now, bool clearRemotes, bool skipEmptyLog) {
  bool idle = false;
  if (!state.cuttingLog.compare_exchange_strong(idle, true)) return std::nullopt;
  bool empty = false;
  if (skipEmptyLog) {
    std::lock_guard list(state.listMutex);
    std::lock_guard stat(state.statMutex);
    empty = state.rows.Empty() && state.stats.flows.empty() && state.stats.proxyFlows.empty();
  }
  Status status = Status::Success();
  if (empty) {
    Cut(state, clearRemotes);
  } else {
    status = WriteTrafficLog(directory, now, [&]() -> std::optional<std::vector<LogRow>> {
               std::vector<LogRow> rows = Cut(state, clearRemotes);
               if (rows.empty() && skipEmptyLog) return std::nullopt;
               return rows;
             }).status;
  }
  state.cuttingLog = false;
  return status;
}

Status SaveAndClear(EngineState& state, const std::filesystem::path& logDirectory, Clock& clock) {
  return CutToTrafficLog(state, logDirectory, clock.NowSeconds(), true, false).value_or(Status::Success());
}

}  // namespace quorvel
