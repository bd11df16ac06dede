#include "mainwindow/ui/flow_list_model.h"

#include <QString>
#include <algorithm>
#include <fstream>
#include <unordered_map>

namespace quorvel {

const FlowColumnInfo kFlowColumns[kFlowColumnCount] = {
    {"Remote IP: port", false, 110},         {"Remote host", false, 100},   {"DL", true, 65},
    {"UL", true, 65},                        {"DL & UL", true, 80},        {"Local source(PID): port", false, 130},
    {"First activity", false, 115},          {"Last activity", false, 115}, {"Full path", false, 115},
};

namespace {

constexpr int kNotFound = -1;
const std::string kEmpty;

}  // namespace

// Position of each row id in a list. Ids are handed out in sequence, so a
// plain table covers them when they are not too spread out; a hash map otherwise.
class IdPositions {
 public:
  explicit IdPositions(const std::vector<FlowRowsSnapshot::Entry>& entries) {
    if (entries.empty()) return;
    RowId low = entries.front().id;
    RowId high = low;
    for (const auto& entry : entries) {
      low = std::min(low, entry.id);
      high = std::max(high, entry.id);
    }
    low_ = low;
    const RowId span = high - low + 1;
    if (span <= entries.size() * 4 + 4096) {
      table_.assign(static_cast<std::size_t>(span), kNotFound);
      for (std::size_t i = 0; i < entries.size(); ++i) table_[entries[i].id - low] = static_cast<int>(i);
      dense_ = true;
    } else {
      map_.reserve(entries.size());
      for (std::size_t i = 0; i < entries.size(); ++i) map_.emplace(entries[i].id, static_cast<int>(i));
    }
  }

  int Find(RowId id) const {
    if (dense_) {
      if (id < low_ || id - low_ >= table_.size()) return kNotFound;
      return table_[id - low_];
    }
    const auto found = map_.find(id);
    return found == map_.end() ? kNotFound : found->second;
  }
  bool Contains(RowId id) const { return Find(id) != kNotFound; }

 private:
  bool dense_ = false;
  RowId low_ = 0;
  std::vector<int> table_;
  std::unordered_map<RowId, int> map_;
};

FlowListModel::FlowListModel(QObject* parent) : QAbstractTableModel(parent) {
  headerIcons_[0] = QIcon(QStringLiteral(":/icons/header_down.png"));
  headerIcons_[1] = QIcon(QStringLiteral(":/icons/header_up.png"));
  headerIcons_[2] = QIcon(QStringLiteral(":/icons/header_both.png"));
}

int FlowListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int FlowListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kFlowColumnCount; }

QVariant FlowListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(entries_.size()) || index.column() >= kFlowColumnCount) {
    return {};
  }
  const Entry& entry = entries_[static_cast<std::size_t>(index.row())];
  const std::string& text = entry.row->columns[static_cast<std::size_t>(index.column())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return QString::fromStdString(text);
    case Qt::TextAlignmentRole:
      return static_cast<int>((kFlowColumns[index.column()].alignRight ? Qt::AlignRight : Qt::AlignLeft) |
                              Qt::AlignVCenter);
    case Qt::DecorationRole:
      if (index.column() == kColumnRemote && iconSource_) return iconSource_(*entry.row);
      return {};
    case kRawValueRole:
      if (index.column() >= kColumnDownload && index.column() <= kColumnTotal) {
        return static_cast<double>(ByteTextValue(text));
      }
      return QString::fromStdString(text);
    case kSelectedRole:
      return entry.row->selected;
    case kRowIdRole:
      return static_cast<qulonglong>(entry.id);
    default:
      return {};
  }
}

QVariant FlowListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kFlowColumnCount) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromLatin1(kFlowColumns[section].title);
    case Qt::TextAlignmentRole:
      return static_cast<int>((kFlowColumns[section].alignRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    case Qt::DecorationRole:
      if (section >= kColumnDownload && section <= kColumnTotal) return headerIcons_[section - kColumnDownload];
      return {};
    default:
      return {};
  }
}

const FlowRow* FlowListModel::RowAt(int row) const {
  if (row < 0 || row >= static_cast<int>(entries_.size())) return nullptr;
  return entries_[static_cast<std::size_t>(row)].row;
}

std::string FlowListModel::Cell(int row, int column) const {
  const FlowRow* shown = RowAt(row);
  if (!shown || column < 0 || column >= kFlowColumnCount) return kEmpty;
  return shown->columns[static_cast<std::size_t>(column)];
}

void FlowListModel::ShowSnapshot(const FlowRowsSnapshot& snapshot) {
  const std::vector<Entry>& next = *snapshot.rows;
  version_ = snapshot.version;
  hasSnapshot_ = true;
  const bool sameOrder = next.size() == entries_.size() &&
                         std::equal(next.begin(), next.end(), entries_.begin(),
                                    [](const Entry& a, const Entry& b) { return a.id == b.id; });
  // The worker's usual change: new rows at the top of an otherwise unchanged list.
  const auto sameId = [](const Entry& a, const Entry& b) { return a.id == b.id; };
  const std::size_t added = next.size() > entries_.size() ? next.size() - entries_.size() : 0;
  const bool addedAtTop = !sameOrder && added > 0 &&
                          std::equal(next.begin() + static_cast<std::ptrdiff_t>(added), next.end(),
                                     entries_.begin(), sameId);
  if (addedAtTop) {
    beginInsertRows(QModelIndex(), 0, static_cast<int>(added) - 1);
    entries_.insert(entries_.begin(), next.begin(), next.begin() + static_cast<std::ptrdiff_t>(added));
    endInsertRows();
  } else if (!sameOrder) {
    RemoveMissing(next);
    const IdPositions kept(entries_);
    Reorder(next, kept);
    InsertNew(next, kept);
  }
  SignalChangedRows(next);
  shown_ = snapshot;  // only now: until here the views may still read rows of the old one
}

void FlowListModel::RemoveMissing(const std::vector<Entry>& next) {
  if (next.empty() && !entries_.empty()) {
    beginRemoveRows(QModelIndex(), 0, static_cast<int>(entries_.size()) - 1);
    entries_.clear();
    endRemoveRows();
    return;
  }
  const IdPositions wanted(next);
  // Bottom to top, so the positions of the runs not yet removed stay valid.
  int last = static_cast<int>(entries_.size()) - 1;
  while (last >= 0) {
    if (wanted.Contains(entries_[static_cast<std::size_t>(last)].id)) {
      --last;
      continue;
    }
    int first = last;
    while (first > 0 && !wanted.Contains(entries_[static_cast<std::size_t>(first - 1)].id)) --first;
    beginRemoveRows(QModelIndex(), first, last);
    entries_.erase(entries_.begin() + first, entries_.begin() + last + 1);
    endRemoveRows();
    last = first - 1;
  }
}

void FlowListModel::Reorder(const std::vector<Entry>& next, const IdPositions& kept) {
  // Usually the kept rows are already in next's order (rows were only added
  // or removed): then nothing is copied.
  int expected = 0;
  bool same = true;
  for (const Entry& entry : next) {
    const int position = kept.Find(entry.id);
    if (position == kNotFound) continue;
    if (position != expected++) {
      same = false;
      break;
    }
  }
  if (same) return;

  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<RowId> beforeIds;
  beforeIds.reserve(static_cast<std::size_t>(before.size()));
  for (const QModelIndex& index : before) beforeIds.push_back(entries_[static_cast<std::size_t>(index.row())].id);

  // The kept rows in their new order: next without the rows that are new.
  std::vector<Entry> ordered;
  ordered.reserve(entries_.size());
  for (const Entry& entry : next) {
    const int position = kept.Find(entry.id);
    if (position != kNotFound) ordered.push_back(std::move(entries_[static_cast<std::size_t>(position)]));
  }
  entries_.swap(ordered);

  const IdPositions newPositions(entries_);
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i) {
    const int position = newPositions.Find(beforeIds[static_cast<std::size_t>(i)]);
    after.push_back(position == kNotFound ? QModelIndex() : createIndex(position, before[i].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FlowListModel::InsertNew(const std::vector<Entry>& next, const IdPositions& kept) {
  if (entries_.size() == next.size()) return;
  std::size_t i = 0;
  while (i < next.size()) {
    if (kept.Contains(next[i].id)) {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (end < next.size() && !kept.Contains(next[end].id)) ++end;
    beginInsertRows(QModelIndex(), static_cast<int>(i), static_cast<int>(end - 1));
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(i), next.begin() + static_cast<std::ptrdiff_t>(i),
                    next.begin() + static_cast<std::ptrdiff_t>(end));
    endInsertRows();
    i = end;
  }
}

void FlowListModel::SignalChangedRows(const std::vector<Entry>& next) {
  // entries_ now lists the same ids as next, in the same order.
  std::size_t i = 0;
  while (i < next.size()) {
    if (entries_[i].row == next[i].row) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < next.size() && entries_[end].row != next[end].row) {
      entries_[end].row = next[end].row;
      ++end;
    }
    emit dataChanged(index(static_cast<int>(i), 0), index(static_cast<int>(end - 1), kFlowColumnCount - 1));
    i = end;
  }
}

RefreshResult RefreshFromRows(FlowListModel& model, std::mutex& listMutex, const FlowRows& rows) {
  if (model.HasSnapshot() && rows.Version() == model.Version()) return RefreshResult::kUnchanged;
  FlowRowsSnapshot snapshot;
  {
    std::unique_lock lock(listMutex, std::try_to_lock);
    if (!lock.owns_lock()) return RefreshResult::kBusy;
    snapshot = rows.Snapshot();
  }
  if (model.HasSnapshot() && snapshot.version == model.Version()) return RefreshResult::kUnchanged;
  model.ShowSnapshot(snapshot);
  return RefreshResult::kUpdated;
}

Status WriteModelRows(const FlowListModel& model, const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return Status::Failure("Can't write to " + path.string());
  for (int row = 0; row < model.Size(); ++row) {
    const FlowRow* shown = model.RowAt(row);
    for (const std::string& cell : shown->columns) out << cell << '\t';
    out << (shown->selected ? "selected" : "") << '\n';
  }
  out.flush();
  if (!out) return Status::Failure("Can't write to " + path.string());
  return Status::Success();
}

}  // namespace quorvel
