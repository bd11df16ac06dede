#include "engine/flow_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/flow_sort.h"
#include "common/format.h"
#include "common/timestamp_parse.h"

namespace quorvel {
namespace {

FlowRow MakeRow(std::string remote, std::string host, std::string source) {
  FlowRow row;
  row.columns[kColumnRemote] = std::move(remote);
  row.columns[kColumnHost] = std::move(host);
  row.columns[kColumnLocalSource] = std::move(source);
  return row;
}

// The plain list that the store must agree with: every lookup is a scan from the top.
struct ReferenceList {
  std::vector<std::pair<RowId, FlowRow>> rows;

  std::optional<RowId> Scan(int column, const std::string& text, const std::string& source) const {
    for (const auto& [id, row] : rows) {
      if (row.columns[column] == text && row.columns[kColumnLocalSource] == source) return id;
    }
    return std::nullopt;
  }
  std::vector<RowId> OfAddress(const std::string& address) const {
    const std::string prefix = address + ":";
    std::vector<RowId> ids;
    for (const auto& [id, row] : rows) {
      if (row.columns[kColumnRemote].starts_with(prefix)) ids.push_back(id);
    }
    return ids;
  }
  std::vector<RowId> Ids() const {
    std::vector<RowId> ids;
    for (const auto& entry : rows) ids.push_back(entry.first);
    return ids;
  }
};

TEST(FlowRowsTest, LookupsEqualAScanFromTheTopUnderRandomChanges) {
  std::mt19937 random(20240611);
  const auto pick = [&random](int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); };
  // Small alphabets, so that duplicate keys and shared addresses are common.
  const std::vector<std::string> addresses = {"10.0.0.1", "10.0.0.15", "10.0.0.150", "192.168.1.2", "8.8.8.8"};
  const std::vector<std::string> ports = {"80", "443", "8080"};
  const std::vector<std::string> sources = {"a.exe(1): 5", "b.exe(2): 6", "TCP protocol: 80"};
  const std::vector<std::string> bytes = {"512 B", "1.00 KB", "1.50 KB", "1.00 MB", "0 B"};
  const auto randomRemote = [&] {
    // Proxy rows hold the address alone, without ":".
    if (pick(6) == 0) return addresses[pick(5)];
    return addresses[pick(5)] + ": " + ports[pick(3)];
  };
  const auto randomHost = [&] { return pick(2) == 0 ? addresses[pick(5)] : "host" + std::to_string(pick(4)); };

  FlowRows store;
  ReferenceList reference;
  // A snapshot must keep showing what it showed, whatever changes later.
  FlowRowsSnapshot held;
  std::vector<FlowRow> heldTexts;
  for (int step = 0; step < 8000; ++step) {
    // Phases of growth and of shrinking, so that many deleted rows pile up
    // and get squeezed out of the order.
    const bool growing = (step / 2000) % 2 == 0;
    const int operation = pick(100);
    const int inserts = growing ? 60 : 5;
    if (reference.rows.empty() || operation < inserts) {
      FlowRow row = MakeRow(randomRemote(), randomHost(), sources[pick(3)]);
      row.columns[kColumnDownload] = bytes[pick(5)];
      const RowId id = store.InsertTop(row);
      reference.rows.insert(reference.rows.begin(), {id, row});
    } else if (operation < inserts + 15) {
      const auto index = static_cast<std::size_t>(pick(static_cast<int>(reference.rows.size())));
      auto& [id, row] = reference.rows[index];
      const int column = pick(4);
      std::string text = column == 0 ? randomRemote() : column == 1 ? randomHost() : column == 2 ? sources[pick(3)] : bytes[pick(5)];
      const int target = column == 0 ? kColumnRemote : column == 1 ? kColumnHost : column == 2 ? kColumnLocalSource : kColumnDownload;
      row.columns[target] = text;
      row.selected = !row.selected;
      if (pick(2) == 0) {
        ASSERT_TRUE(store.Update(id, [&](FlowRow& stored) {
          stored.columns[target] = text;
          stored.selected = !stored.selected;
        }));
      } else {
        ASSERT_TRUE(store.UpdateColumns(id, FlowRowChange().Set(target, text).Select(row.selected)));
      }
    } else if (operation < 98 || !growing) {
      const auto index = static_cast<std::size_t>(pick(static_cast<int>(reference.rows.size())));
      ASSERT_TRUE(store.Erase(reference.rows[index].first));
      reference.rows.erase(reference.rows.begin() + static_cast<std::ptrdiff_t>(index));
    } else {
      const int column = pick(2) == 0 ? kColumnDownload : pick(2) == 0 ? kColumnRemote : kColumnHost;
      const bool ascending = pick(2) == 0;
      store.SortByColumn(column, ascending);
      const auto less = [column](const auto& a, const auto& b) {
        if (column == kColumnDownload) {
          return ByteTextValue(a.second.columns[column]) < ByteTextValue(b.second.columns[column]);
        }
        return a.second.columns[column] < b.second.columns[column];
      };
      if (ascending) {
        std::stable_sort(reference.rows.begin(), reference.rows.end(), less);
      } else {
        std::stable_sort(reference.rows.begin(), reference.rows.end(), [&](const auto& a, const auto& b) { return less(b, a); });
      }
    }

    ASSERT_EQ(store.Size(), reference.rows.size());
    if (step % 97 == 0) {
      if (held.rows) {
        ASSERT_EQ(held.rows->size(), heldTexts.size());
        for (std::size_t i = 0; i < heldTexts.size(); ++i) ASSERT_EQ(*held.rows->at(i).row, heldTexts[i]);
      }
      held = store.Snapshot();
      heldTexts.clear();
      for (const auto& entry : *held.rows) heldTexts.push_back(*entry.row);
    }
    if (step % 50 == 0) {
      ASSERT_EQ(store.IdsTopDown(), reference.Ids()) << "step " << step;
    }
    for (int query = 0; query < 2; ++query) {
      const std::string remote = randomRemote();
      const std::string host = randomHost();
      const std::string& source = sources[pick(3)];
      ASSERT_EQ(store.FindRowByEndpoint(remote, source), reference.Scan(kColumnRemote, remote, source)) << "step " << step;
      ASSERT_EQ(store.FindRowByHost(host, source), reference.Scan(kColumnHost, host, source)) << "step " << step;
      const std::string& address = addresses[pick(5)];
      ASSERT_EQ(store.RowsOfAddress(address), reference.OfAddress(address)) << "step " << step;
    }
  }
  const auto snapshot = store.Snapshot();
  ASSERT_EQ(snapshot.rows->size(), reference.rows.size());
  for (std::size_t i = 0; i < reference.rows.size(); ++i) {
    EXPECT_EQ(snapshot.rows->at(i).id, reference.rows[i].first);
    EXPECT_EQ(*snapshot.rows->at(i).row, reference.rows[i].second);
  }
}

TEST(FlowRowsTest, ByteTextValues) {
  const struct {
    const char* text;
    float value;
  } cases[] = {{"512 B", 512.0f},          {"1.00 KB", 1024.0f},  {"1.50 KB", 1536.0f},
               {"1.00 MB", 1048576.0f},    {"4096.00 MB", 4096.0f * 1048576.0f},
               {"", 0.0f},                 {"KB", 0.0f},          {"7", 7.0f}};
  for (const auto& c : cases) EXPECT_FLOAT_EQ(ByteTextValue(c.text), c.value) << c.text;
}

TEST(FlowSortStateTest, SameColumnFlipsAndAnotherColumnKeepsTheDirection) {
  FlowSortState state;
  EXPECT_FALSE(state.Click(kColumnUpload));  // first click: descending
  EXPECT_TRUE(state.Click(kColumnUpload));   // same column: flipped
  EXPECT_TRUE(state.Click(kColumnDownload)); // another column keeps ascending
  EXPECT_EQ(state.column(), kColumnDownload);
}

TEST(FlowRowsTest, AnUnchangedListGivesTheSameSnapshotAndVersion) {
  FlowRows rows;
  const RowId id = rows.InsertTop(MakeRow("10.0.0.1: 80", "10.0.0.1", "a"));
  const auto first = rows.Snapshot();
  EXPECT_EQ(rows.Snapshot().rows, first.rows);
  rows.SetSelected(id, false);  // already clear: no change
  EXPECT_EQ(rows.Version(), first.version);
  EXPECT_EQ(rows.Snapshot().rows, first.rows);
}

TEST(FlowRowsTest, HeldSnapshotsKeepShowingTheirRowsWhateverHappensLater) {
  FlowRows rows;
  std::vector<RowId> ids;
  for (const char* remote : {"0: 1", "1: 1", "2: 1", "3: 1"}) ids.push_back(rows.InsertTop(MakeRow(remote, "h", "s")));
  const auto texts = [](const FlowRowsSnapshot& snapshot) {
    std::vector<std::string> shown;
    for (const auto& entry : *snapshot.rows) shown.push_back(entry.row->columns[kColumnRemote] + "/" + entry.row->columns[kColumnHost]);
    return shown;
  };
  auto oldest = rows.Snapshot();
  rows.UpdateColumns(ids[0], FlowRowChange().Set(kColumnHost, "once"));
  const auto middle = rows.Snapshot();
  rows.UpdateColumns(ids[0], FlowRowChange().Set(kColumnHost, "twice"));
  rows.UpdateColumns(ids[0], FlowRowChange().Set(kColumnHost, "thrice"));  // a version no snapshot has seen
  rows.Update(ids[2], [](FlowRow& row) { row.columns[kColumnHost] = "updated"; });
  rows.Erase(ids[1]);
  rows.Snapshot();
  rows.SortByColumn(kColumnRemote, true);
  EXPECT_EQ(texts(rows.Snapshot()), (std::vector<std::string>{"0: 1/thrice", "2: 1/updated", "3: 1/h"}));
  rows.Clear();
  EXPECT_TRUE(rows.Snapshot().rows->empty());

  EXPECT_EQ(texts(oldest), (std::vector<std::string>{"3: 1/h", "2: 1/h", "1: 1/h", "0: 1/h"}));
  oldest = {};
  rows.InsertTop(MakeRow("4: 1", "h", "s"));
  rows.Snapshot();  // frees the versions only the dropped snapshot showed
  EXPECT_EQ(texts(middle), (std::vector<std::string>{"3: 1/h", "2: 1/h", "1: 1/h", "0: 1/once"}));
}

TEST(FlowRowsTest, LastActivityFollowsColumnSevenAcrossChanges) {
  FlowRows rows;
  FlowRow row = MakeRow("10.0.0.1: 80", "h", "s");
  row.columns[kColumnLastActivity] = FormatTimestamp(1'700'000'000);
  const RowId id = rows.InsertTop(row);
  EXPECT_EQ(rows.LastActivityTime(id), 1'700'000'000);
  // Many replacements: a cached value must never outlive its text.
  for (std::int64_t t = 1'700'000'001; t < 1'700'000'050; ++t) {
    if (t % 2 == 0) {
      rows.Update(id, [t](FlowRow& stored) { stored.columns[kColumnLastActivity] = FormatTimestamp(t); });
    } else {
      rows.UpdateColumns(id, FlowRowChange().Set(kColumnLastActivity, FormatTimestamp(t)));  // in place
    }
    ASSERT_EQ(rows.LastActivityTime(id), t);
  }
  rows.Update(id, [](FlowRow& stored) { stored.columns[kColumnLastActivity] = "yesterday"; });
  EXPECT_FALSE(rows.LastActivityTime(id));
}

TEST(TimestampParseTest, ReadsFormattedTextsBack) {
  for (const std::int64_t t : {0LL, 1'700'000'000LL, 1'142'414'100LL}) EXPECT_EQ(ParseTimestamp(FormatTimestamp(t)), t);
  EXPECT_EQ(ParseTimestamp("2006-3-15 9:15:0"), 1'142'414'100);
  EXPECT_FALSE(ParseTimestamp(""));
  EXPECT_FALSE(ParseTimestamp("2006-03-15"));
  EXPECT_FALSE(ParseTimestamp("garbage"));
}

}  // namespace
}  // namespace quorvel
