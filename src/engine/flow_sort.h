#pragma once

namespace quorvel {

struct EngineState;

// The flow list's sort column and direction, one per process: a first click
// on any column sorts descending, a further click on the same column flips
// the order, another column keeps the current direction.
class FlowSortState {
 public:
  // Records a header click; returns true when the rows are to be sorted ascending.
  bool Click(int column);
  int column() const { return column_; }
  bool ascending() const { return ascending_; }

 private:
  int column_ = -1;
  bool ascending_ = false;
};

// Sorts the rows under listMutex; the body of the short-lived sort thread,
// so the user interface never waits for the list.
void SortFlowList(EngineState& state, int column, bool ascending);

}  // namespace quorvel
