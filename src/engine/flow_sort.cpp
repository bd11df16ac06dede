#include "engine/flow_sort.h"

#include <mutex>

#include "engine/engine_state.h"

namespace quorvel {

bool FlowSortState::Click(int column) {
  if (column == column_) ascending_ = !ascending_;
  column_ = column;
  return ascending_;
}

void SortFlowList(EngineState& state, int column, bool ascending) {
  std::lock_guard lock(state.listMutex);
  state.rows.SortByColumn(column, ascending);
}

}  // namespace quorvel
