#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quorvel {

// Column indexes of the flow list.
enum FlowColumn : int {
  kColumnRemote = 0,        // "Remote IP: port" ("%s: %s"); the address alone for proxy rows
  kColumnHost = 1,          // "Remote host"
  kColumnDownload = 2,      // "DL"
  kColumnUpload = 3,        // "UL"
  kColumnTotal = 4,         // "DL & UL"
  kColumnLocalSource = 5,   // "Local source(PID): port"
  kColumnFirstActivity = 6, // "First activity"
  kColumnLastActivity = 7,  // "Last activity"
  kColumnFullPath = 8,      // "Full path"
};
inline constexpr int kFlowColumnCount = 9;

using FlowRowTexts = std::array<std::string, kFlowColumnCount>;

// One row of the flow list: the only store of a flow's display texts.
struct FlowRow {
  FlowRowTexts columns;
  bool selected = false;  // the activity highlight
  std::string iconPath;   // file whose type gives the row's icon (proxy rows: column 8 stays empty)
  bool namedByTraffic = false;  // column 1 holds a name from traffic, which reverse lookups leave alone
  // The counts the byte columns show, for exports.
  std::uint64_t download = 0;
  std::uint64_t upload = 0;

  friend bool operator==(const FlowRow&, const FlowRow&) = default;
};

// A row handed out (by a snapshot or Get) never changes: a later change
// replaces it, so a snapshot shares rows without copying texts.
using FlowRowPtr = std::shared_ptr<const FlowRow>;

// Stable handle of a row; never reused. 0 is no row.
using RowId = std::uint64_t;

class RetiredRows;

// The rows at one moment. Row pointers stay valid while `rows` is held:
// versions replaced since are kept by the store until no snapshot can show
// them, so taking a snapshot copies no row and counts no references.
struct FlowRowsSnapshot {
  struct Entry {
    RowId id = 0;
    const FlowRow* row = nullptr;
  };
  std::uint64_t version = 0;
  std::shared_ptr<const std::vector<Entry>> rows;  // top to bottom, never null
};

// Column texts to set on one row, and its selected state; unset parts stay.
struct FlowRowChange {
  std::array<std::optional<std::string>, kFlowColumnCount> columns;
  std::optional<bool> selected;
  std::optional<std::pair<std::uint64_t, std::uint64_t>> bytes;  // download, upload

  FlowRowChange& Set(int column, std::string text) {
    columns[static_cast<std::size_t>(column)] = std::move(text);
    return *this;
  }
  FlowRowChange& SetBytes(std::uint64_t download, std::uint64_t upload) {
    bytes = std::pair{download, upload};
    return *this;
  }
  FlowRowChange& Select(bool value) {
    selected = value;
    return *this;
  }
};

// The flow list's rows in display order, with indexes that answer the row
// lookups in O(1) on average while giving exactly the result of a scan from
// the top (duplicates possible: the topmost wins). Not thread-safe: guarded by
// listMutex, except Version(), which may be read without it.
class FlowRows {
 public:
  FlowRows();

  std::size_t Size() const { return liveRows_; }
  bool Empty() const { return liveRows_ == 0; }

  // Inserts at the top (index 0).
  RowId InsertTop(FlowRow row);
  // First row from the top whose column 0 is `remote` and column 5 `localSource`.
  std::optional<RowId> FindRowByEndpoint(std::string_view remote, std::string_view localSource) const;
  // First row from the top whose column 1 is `host` and column 5 `localSource`.
  std::optional<RowId> FindRowByHost(std::string_view host, std::string_view localSource) const;
  // Rows whose column 0 starts with `addressText` followed by ":", top to bottom.
  // `addressText` holds no ":" (a dotted address).
  std::vector<RowId> RowsOfAddress(std::string_view addressText) const;

  // Null when the row is gone.
  FlowRowPtr Get(RowId id) const;
  // One cell's text, valid until the rows change; null when the row is gone.
  const std::string* CellText(RowId id, int column) const;
  // Replaces the row by the result of `edit` on a copy; false when the row is gone.
  bool Update(RowId id, const std::function<void(FlowRow&)>& edit);
  // Applies a change; a row that no snapshot shares is changed in place.
  // False when the row is gone.
  bool UpdateColumns(RowId id, FlowRowChange change);
  bool SetSelected(RowId id, bool selected);
  bool Erase(RowId id);
  void Clear();

  // Sorts by one column (byte columns 2-4 by value, the others by the
  // collation of the current LC_COLLATE, case-sensitive); equal rows keep
  // their order. Later inserts still go to the top.
  void SortByColumn(int column, bool ascending);

  // Time of column 7 read as local time, cached until the row changes;
  // nullopt when the text does not convert (or the row is gone).
  std::optional<std::int64_t> LastActivityTime(RowId id) const;

  // Row ids top to bottom.
  std::vector<RowId> IdsTopDown() const;
  // The texts top to bottom, for traffic logs.
  std::vector<FlowRowTexts> TextsTopDown() const;
  // Shares the rows: one pass over the order, nothing copied per row; the
  // same snapshot again while nothing changed.
  FlowRowsSnapshot Snapshot() const;

  // Changes with every change of the rows; readable without listMutex.
  std::uint64_t Version() const { return version_.load(std::memory_order_acquire); }

 private:
  struct Entry {
    std::shared_ptr<FlowRow> row;  // null once deleted
    std::int64_t rank = 0;         // smaller is higher; index in order_ is rank - frontRank_
    // Snapshot count when this version was made; an older version may be in
    // a snapshot and is copied before a change. 0 once handed out by Get.
    mutable std::uint64_t born = 0;
    mutable const FlowRow* parsedRow = nullptr;  // row version that parsedTime belongs to
    mutable std::optional<std::int64_t> parsedTime;
  };
  // A place in the display order; id 0 marks a deleted row.
  struct Slot {
    RowId id = 0;
    const FlowRow* row = nullptr;
  };
  // Ids of one key ordered by rank, topmost first; the first is kept inline
  // since most keys have one row.
  struct IdList {
    RowId first = 0;
    std::vector<RowId> more;
  };
  struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  using Index = std::unordered_map<std::string, IdList, StringHash, std::equal_to<>>;

  Entry* Find(RowId id);
  const Entry* Find(RowId id) const;
  // The key of a text pair (length-prefixed, so pairs never collide), in keyScratch_.
  std::string_view PairKey(std::string_view first, std::string_view second) const;
  void AddToIndexes(RowId id, const FlowRow& row, std::int64_t rank);
  void RemoveFromIndexes(RowId id, const FlowRow& row);
  void Link(Index& index, std::string_view key, RowId id, std::int64_t rank);
  void Unlink(Index& index, std::string_view key, RowId id);
  void SortIdList(IdList& ids);
  std::optional<RowId> First(const Index& index, std::string_view key) const;
  void CompactIfSparse();
  void Changed();
  // Gives the entry a new version of its row; the old one is kept while a
  // snapshot may show it.
  void Replace(Entry& entry, std::shared_ptr<FlowRow> row);
  bool MayBeShown(const Entry& entry) const { return entry.born < snapshots_; }
  Slot& SlotOf(const Entry& entry) { return order_[static_cast<std::size_t>(entry.rank - frontRank_)]; }

  std::deque<Entry> entries_;  // by id - firstId_
  RowId firstId_ = 1;
  RowId nextId_ = 1;
  std::size_t liveRows_ = 0;
  std::deque<Slot> order_;  // display order
  std::int64_t frontRank_ = 0;
  std::size_t holes_ = 0;

  Index byEndpoint_;  // (column 0, column 5)
  Index byHost_;      // (column 1, column 5)
  Index byAddress_;   // column 0 before its first ":"
  mutable std::string keyScratch_;

  std::atomic<std::uint64_t> version_{0};
  mutable std::uint64_t snapshots_ = 1;  // snapshots taken, plus one
  std::shared_ptr<RetiredRows> retired_;
  mutable FlowRowsSnapshot snapshot_;
  // Rows refreshed in one pass share their time texts: the last conversion is reused.
  mutable std::string lastParsedText_;
  mutable std::optional<std::int64_t> lastParsedTime_;
  mutable bool lastParsedValid_ = false;
};

// Value of a byte text ("%f %s": "K" x1024, "M" x1048576, else bytes); 0
// when it holds no number.
float ByteTextValue(std::string_view text);

}  // namespace quorvel
