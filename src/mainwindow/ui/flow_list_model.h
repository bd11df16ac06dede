#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/status.h"
#include "engine/flow_rows.h"

namespace quorvel {

class IdPositions;

// The flow list's titles, alignments and initial widths, by column.
struct FlowColumnInfo {
  const char* title;
  bool alignRight;
  int initialWidth;
};
extern const FlowColumnInfo kFlowColumns[kFlowColumnCount];

// Shows a snapshot of the engine's rows. A new snapshot is applied as row
// removals, a re-order, row inserts and dataChanged per run of replaced rows
// (rows are compared by pointer): the model is never reset, so the view keeps
// its scroll position and current index.
class FlowListModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Role : int {
    kRawValueRole = Qt::UserRole + 1,  // bytes as a number for columns 2-4, else the text
    kSelectedRole,                     // the row's activity highlight
    kRowIdRole,                        // the row's stable id
  };

  explicit FlowListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  void ShowSnapshot(const FlowRowsSnapshot& snapshot);
  // Version of the rows shown; meaningful once HasSnapshot().
  std::uint64_t Version() const { return version_; }
  bool HasSnapshot() const { return hasSnapshot_; }

  // The row shown at `row`, valid until the next snapshot is shown; null past the end.
  const FlowRow* RowAt(int row) const;
  // A cell's text; empty past the end, as the list reads empty cells.
  std::string Cell(int row, int column) const;
  int Size() const { return static_cast<int>(entries_.size()); }

  // Gives each row its icon (column 0); rows are passed whole.
  void SetIconSource(std::function<QIcon(const FlowRow&)> source) { iconSource_ = std::move(source); }

 private:
  using Entry = FlowRowsSnapshot::Entry;
  void RemoveMissing(const std::vector<Entry>& next);
  // Both take the positions of the rows shown once the missing ones are gone.
  void Reorder(const std::vector<Entry>& next, const IdPositions& kept);
  void InsertNew(const std::vector<Entry>& next, const IdPositions& kept);
  void SignalChangedRows(const std::vector<Entry>& next);

  std::vector<Entry> entries_;  // rows of shown_, in the order shown
  FlowRowsSnapshot shown_;      // keeps the rows of entries_ alive
  std::uint64_t version_ = 0;
  bool hasSnapshot_ = false;
  std::function<QIcon(const FlowRow&)> iconSource_;
  QIcon headerIcons_[3];
};

enum class RefreshResult { kUnchanged, kUpdated, kBusy };

// Brings the model up to the rows without ever waiting for listMutex: when
// the version is unchanged nothing is done, when the lock is busy the model
// keeps its picture and kBusy asks for a retry.
RefreshResult RefreshFromRows(FlowListModel& model, std::mutex& listMutex, const FlowRows& rows);

// The model's rows as tab-separated lines of the nine cell texts, top to
// bottom, with the highlight as a tenth field ("selected" or empty).
Status WriteModelRows(const FlowListModel& model, const std::filesystem::path& path);

}  // namespace quorvel
