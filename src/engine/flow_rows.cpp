#include "engine/flow_rows.h"

#include "common/text_order.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <tuple>

#include "common/ip_address.h"
#include "common/timestamp_parse.h"

namespace quorvel {
namespace {

// Holes left by deleted rows are squeezed out once they are this many and
// more than half of the order.
constexpr std::size_t kMinHolesToCompact = 256;

bool IsByteColumn(int column) {
  return column == kColumnDownload || column == kColumnUpload || column == kColumnTotal;
}

// Column 0 up to its last ": ", the key of the address index; none without
// one. IPv6 addresses hold colons of their own.
std::optional<std::string_view> AddressPart(const std::string& remote) {
  return EndpointAddressPart(remote);
}


}  // namespace

// Row versions replaced or deleted while a snapshot may still show them, and
// the snapshots that are out. Shared with the snapshots, which may outlive
// the store; the user-interface thread only ever releases a snapshot here,
// the freeing is done by the store's side.
class RetiredRows {
 public:
  void Hold(std::uint64_t snapshot) {
    std::lock_guard lock(mutex_);
    ++held_[snapshot];
  }
  void Release(std::uint64_t snapshot) {
    std::lock_guard lock(mutex_);
    if (--held_[snapshot] == 0) held_.erase(snapshot);
  }
  // `row` may be shown by snapshots numbered up to `lastSnapshot`.
  void Retire(std::uint64_t lastSnapshot, std::shared_ptr<FlowRow> row) {
    std::lock_guard lock(mutex_);
    if (held_.empty()) return;  // no snapshot is out: freed on return
    rows_.emplace_back(lastSnapshot, std::move(row));
  }
  // Frees the versions that no snapshot out can show.
  void Collect() {
    std::vector<std::shared_ptr<FlowRow>> freed;
    std::lock_guard lock(mutex_);
    const std::uint64_t oldest = held_.empty() ? std::numeric_limits<std::uint64_t>::max() : held_.begin()->first;
    while (!rows_.empty() && rows_.front().first < oldest) {
      freed.push_back(std::move(rows_.front().second));
      rows_.pop_front();
    }
  }

 private:
  std::mutex mutex_;
  std::map<std::uint64_t, int> held_;  // snapshot number -> copies out
  std::deque<std::pair<std::uint64_t, std::shared_ptr<FlowRow>>> rows_;  // by last snapshot, ascending
};

float ByteTextValue(std::string_view text) {
  const auto parsed = ParseByteText(text);
  if (!parsed) return 0.0f;
  auto value = static_cast<float>(parsed->number);
  if (parsed->unit == 'K') {
    value *= 1024.0f;
  } else if (parsed->unit == 'M') {
    value *= 1048576.0f;
  }
  return value;
}

FlowRows::FlowRows() : retired_(std::make_shared<RetiredRows>()) {
  snapshot_.rows = std::make_shared<const std::vector<FlowRowsSnapshot::Entry>>();
}

void FlowRows::Replace(Entry& entry, std::shared_ptr<FlowRow> row) {
  std::shared_ptr<FlowRow> old = std::move(entry.row);
  const bool shown = MayBeShown(entry);
  entry.row = std::move(row);
  entry.born = snapshots_;
  entry.parsedRow = nullptr;
  if (entry.row) SlotOf(entry).row = entry.row.get();
  if (shown) retired_->Retire(snapshots_ - 1, std::move(old));
}

void FlowRows::Changed() { version_.fetch_add(1, std::memory_order_acq_rel); }

FlowRows::Entry* FlowRows::Find(RowId id) {
  if (id < firstId_ || id - firstId_ >= entries_.size()) return nullptr;
  Entry& entry = entries_[id - firstId_];
  return entry.row ? &entry : nullptr;
}

const FlowRows::Entry* FlowRows::Find(RowId id) const { return const_cast<FlowRows*>(this)->Find(id); }

std::string_view FlowRows::PairKey(std::string_view first, std::string_view second) const {
  const auto length = static_cast<std::uint32_t>(first.size());
  keyScratch_.clear();
  keyScratch_.append(reinterpret_cast<const char*>(&length), sizeof length);
  keyScratch_.append(first);
  keyScratch_.append(second);
  return keyScratch_;
}

void FlowRows::Link(Index& index, std::string_view key, RowId id, std::int64_t rank) {
  auto found = index.find(key);
  if (found == index.end()) {
    index.emplace(std::string(key), IdList{id, {}});
    return;
  }
  IdList& ids = found->second;
  const auto rankOf = [this](RowId other) { return Find(other)->rank; };
  if (rank < rankOf(ids.first)) {
    ids.more.insert(ids.more.begin(), ids.first);
    ids.first = id;
    return;
  }
  const auto position = std::lower_bound(ids.more.begin(), ids.more.end(), rank,
                                         [&rankOf](RowId other, std::int64_t r) { return rankOf(other) < r; });
  ids.more.insert(position, id);
}

void FlowRows::Unlink(Index& index, std::string_view key, RowId id) {
  const auto found = index.find(key);
  if (found == index.end()) return;
  IdList& ids = found->second;
  if (ids.first == id) {
    if (ids.more.empty()) {
      index.erase(found);
      return;
    }
    ids.first = ids.more.front();
    ids.more.erase(ids.more.begin());
    return;
  }
  ids.more.erase(std::remove(ids.more.begin(), ids.more.end(), id), ids.more.end());
}

void FlowRows::SortIdList(IdList& ids) {
  if (ids.more.empty()) return;
  std::vector<RowId> all;
  all.reserve(ids.more.size() + 1);
  all.push_back(ids.first);
  all.insert(all.end(), ids.more.begin(), ids.more.end());
  std::sort(all.begin(), all.end(), [this](RowId a, RowId b) { return Find(a)->rank < Find(b)->rank; });
  ids.first = all.front();
  ids.more.assign(all.begin() + 1, all.end());
}

void FlowRows::AddToIndexes(RowId id, const FlowRow& row, std::int64_t rank) {
  const auto& columns = row.columns;
  Link(byEndpoint_, PairKey(columns[kColumnRemote], columns[kColumnLocalSource]), id, rank);
  Link(byHost_, PairKey(columns[kColumnHost], columns[kColumnLocalSource]), id, rank);
  if (const auto address = AddressPart(columns[kColumnRemote])) Link(byAddress_, *address, id, rank);
}

void FlowRows::RemoveFromIndexes(RowId id, const FlowRow& row) {
  const auto& columns = row.columns;
  Unlink(byEndpoint_, PairKey(columns[kColumnRemote], columns[kColumnLocalSource]), id);
  Unlink(byHost_, PairKey(columns[kColumnHost], columns[kColumnLocalSource]), id);
  if (const auto address = AddressPart(columns[kColumnRemote])) Unlink(byAddress_, *address, id);
}

RowId FlowRows::InsertTop(FlowRow row) {
  const RowId id = nextId_++;
  const std::int64_t rank = order_.empty() ? frontRank_ : frontRank_ - 1;
  frontRank_ = rank;
  Entry& entry = entries_.emplace_back();
  entry.row = std::make_shared<FlowRow>(std::move(row));
  entry.rank = rank;
  entry.born = snapshots_;
  order_.push_front({id, entry.row.get()});
  ++liveRows_;
  AddToIndexes(id, *entry.row, rank);
  Changed();
  return id;
}

std::optional<RowId> FlowRows::First(const Index& index, std::string_view key) const {
  const auto found = index.find(key);
  if (found == index.end()) return std::nullopt;
  return found->second.first;
}

std::optional<RowId> FlowRows::FindRowByEndpoint(std::string_view remote, std::string_view localSource) const {
  return First(byEndpoint_, PairKey(remote, localSource));
}

std::optional<RowId> FlowRows::FindRowByHost(std::string_view host, std::string_view localSource) const {
  return First(byHost_, PairKey(host, localSource));
}

std::vector<RowId> FlowRows::RowsOfAddress(std::string_view addressText) const {
  const auto found = byAddress_.find(addressText);
  if (found == byAddress_.end()) return {};
  std::vector<RowId> ids;
  ids.reserve(found->second.more.size() + 1);
  ids.push_back(found->second.first);
  ids.insert(ids.end(), found->second.more.begin(), found->second.more.end());
  return ids;
}

FlowRowPtr FlowRows::Get(RowId id) const {
  const Entry* entry = Find(id);
  if (!entry) return nullptr;
  entry->born = 0;  // the caller may hold it for good
  return entry->row;
}

const std::string* FlowRows::CellText(RowId id, int column) const {
  const Entry* entry = Find(id);
  return entry ? &entry->row->columns[static_cast<std::size_t>(column)] : nullptr;
}

bool FlowRows::Update(RowId id, const std::function<void(FlowRow&)>& edit) {
  Entry* entry = Find(id);
  if (!entry) return false;
  auto changed = std::make_shared<FlowRow>(*entry->row);
  edit(*changed);
  if (*changed == *entry->row) return true;
  const auto& before = entry->row->columns;
  const bool keysChanged = changed->columns[kColumnRemote] != before[kColumnRemote] ||
                           changed->columns[kColumnHost] != before[kColumnHost] ||
                           changed->columns[kColumnLocalSource] != before[kColumnLocalSource];
  if (keysChanged) RemoveFromIndexes(id, *entry->row);
  Replace(*entry, std::move(changed));
  if (keysChanged) AddToIndexes(id, *entry->row, entry->rank);
  Changed();
  return true;
}

bool FlowRows::UpdateColumns(RowId id, FlowRowChange change) {
  Entry* entry = Find(id);
  if (!entry) return false;
  const FlowRow& current = *entry->row;
  bool differs = change.selected && *change.selected != current.selected;
  differs |= change.bytes && (change.bytes->first != current.download || change.bytes->second != current.upload);
  bool keysChanged = false;
  for (int column = 0; column < kFlowColumnCount; ++column) {
    const auto& text = change.columns[static_cast<std::size_t>(column)];
    if (!text || *text == current.columns[static_cast<std::size_t>(column)]) continue;
    differs = true;
    keysChanged |= column == kColumnRemote || column == kColumnHost || column == kColumnLocalSource;
  }
  if (!differs) return true;
  if (keysChanged) RemoveFromIndexes(id, current);
  // A version that a snapshot may show stays as it is.
  if (MayBeShown(*entry)) Replace(*entry, std::make_shared<FlowRow>(current));
  FlowRow& row = *entry->row;
  for (std::size_t column = 0; column < change.columns.size(); ++column) {
    if (change.columns[column]) row.columns[column] = std::move(*change.columns[column]);
  }
  if (change.selected) row.selected = *change.selected;
  if (change.bytes) std::tie(row.download, row.upload) = *change.bytes;
  entry->parsedRow = nullptr;
  if (keysChanged) AddToIndexes(id, row, entry->rank);
  Changed();
  return true;
}

bool FlowRows::SetSelected(RowId id, bool selected) {
  FlowRowChange change;
  change.selected = selected;
  return UpdateColumns(id, std::move(change));
}

bool FlowRows::Erase(RowId id) {
  Entry* entry = Find(id);
  if (!entry) return false;
  RemoveFromIndexes(id, *entry->row);
  SlotOf(*entry) = {};
  Replace(*entry, nullptr);
  --liveRows_;
  while (!entries_.empty() && !entries_.front().row) {
    entries_.pop_front();
    ++firstId_;
  }
  ++holes_;
  while (!order_.empty() && order_.front().id == 0) {
    order_.pop_front();
    ++frontRank_;
    --holes_;
  }
  while (!order_.empty() && order_.back().id == 0) {
    order_.pop_back();
    --holes_;
  }
  CompactIfSparse();
  Changed();
  return true;
}

void FlowRows::CompactIfSparse() {
  if (holes_ < kMinHolesToCompact || holes_ * 2 < order_.size()) return;
  // Relative order is kept, so the index lists stay ordered by rank.
  std::deque<Slot> compacted;
  std::int64_t rank = 0;
  for (const Slot& slot : order_) {
    if (slot.id == 0) continue;
    Find(slot.id)->rank = rank++;
    compacted.push_back(slot);
  }
  order_.swap(compacted);
  frontRank_ = 0;
  holes_ = 0;
}

void FlowRows::Clear() {
  for (Entry& entry : entries_) {
    if (entry.row && MayBeShown(entry)) retired_->Retire(snapshots_ - 1, std::move(entry.row));
  }
  entries_.clear();
  firstId_ = nextId_;
  liveRows_ = 0;
  order_.clear();
  frontRank_ = 0;
  holes_ = 0;
  byEndpoint_.clear();
  byHost_.clear();
  byAddress_.clear();
  Changed();
}

void FlowRows::SortByColumn(int column, bool ascending) {
  if (column < 0 || column >= kFlowColumnCount) return;
  struct Keyed {
    RowId id;
    float value;
    std::string text;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(liveRows_);
  const bool byValue = IsByteColumn(column);
  for (const Slot& slot : order_) {
    if (slot.id == 0) continue;
    const std::string& cell = slot.row->columns[static_cast<std::size_t>(column)];
    if (byValue) {
      keyed.push_back({slot.id, ByteTextValue(cell), {}});
    } else {
      keyed.push_back({slot.id, 0.0f, CollationKey(cell)});
    }
  }
  const auto less = [byValue](const Keyed& a, const Keyed& b) {
    return byValue ? a.value < b.value : a.text < b.text;
  };
  if (ascending) {
    std::stable_sort(keyed.begin(), keyed.end(), less);
  } else {
    std::stable_sort(keyed.begin(), keyed.end(), [&less](const Keyed& a, const Keyed& b) { return less(b, a); });
  }
  order_.clear();
  frontRank_ = 0;
  holes_ = 0;
  std::int64_t rank = 0;
  for (const Keyed& row : keyed) {
    Entry* entry = Find(row.id);
    entry->rank = rank++;
    order_.push_back({row.id, entry->row.get()});
  }
  for (Index* index : {&byEndpoint_, &byHost_, &byAddress_}) {
    for (auto& [key, ids] : *index) SortIdList(ids);
  }
  Changed();
}

std::optional<std::int64_t> FlowRows::LastActivityTime(RowId id) const {
  const Entry* entry = Find(id);
  if (!entry) return std::nullopt;
  if (entry->parsedRow != entry->row.get()) {
    const std::string& text = entry->row->columns[kColumnLastActivity];
    if (!lastParsedValid_ || text != lastParsedText_) {
      lastParsedTime_ = ParseTimestamp(text);
      lastParsedText_ = text;
      lastParsedValid_ = true;
    }
    entry->parsedTime = lastParsedTime_;
    entry->parsedRow = entry->row.get();
  }
  return entry->parsedTime;
}

std::vector<RowId> FlowRows::IdsTopDown() const {
  std::vector<RowId> ids;
  ids.reserve(liveRows_);
  for (const Slot& slot : order_) {
    if (slot.id != 0) ids.push_back(slot.id);
  }
  return ids;
}

std::vector<FlowRowTexts> FlowRows::TextsTopDown() const {
  std::vector<FlowRowTexts> texts;
  texts.reserve(liveRows_);
  for (const Slot& slot : order_) {
    if (slot.id != 0) texts.push_back(slot.row->columns);
  }
  return texts;
}

FlowRowsSnapshot FlowRows::Snapshot() const {
  const std::uint64_t version = Version();
  if (snapshot_.version == version) return snapshot_;
  // The vector and its place among the snapshots that are out, released
  // when the last copy goes.
  struct Published {
    std::vector<FlowRowsSnapshot::Entry> rows;
    std::uint64_t number = 0;
    std::shared_ptr<RetiredRows> retired;
    ~Published() { retired->Release(number); }
  };
  auto published = std::make_shared<Published>();
  published->rows.reserve(liveRows_);
  for (const Slot& slot : order_) {
    if (slot.id != 0) published->rows.push_back({slot.id, slot.row});
  }
  published->number = snapshots_++;
  published->retired = retired_;
  retired_->Hold(published->number);
  snapshot_.rows = std::shared_ptr<const std::vector<FlowRowsSnapshot::Entry>>(published, &published->rows);
  snapshot_.version = version;
  retired_->Collect();
  return snapshot_;
}

}  // namespace quorvel
