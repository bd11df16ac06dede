#include "engine/flow_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "common/format.h"
#include "common/timestamp_parse.h"
#include "engine/flow_sort.h"
#include "engine/resolver_fixture.h"

namespace quorvel {
namespace {

using testing::MakeRow;

// The store against a plain list where every lookup is a scan from the top.
TEST(FlowRowsTest, LookupsEqualAScanFromTheTopUnderRandomChanges) {
  std::mt19937 random(20240611);
  const auto pick = [&random](std::size_t count) {
    return static_cast<std::size_t>(std::uniform_int_distribution<int>(0, static_cast<int>(count) - 1)(random));
  };
  // Small alphabets, so that duplicate keys and shared addresses are common.
  const std::vector<std::string> addresses = {"10.0.0.1", "10.0.0.15", "10.0.0.150", "192.168.1.2", "8.8.8.8"};
  const std::vector<std::string> sources = {"a.exe(1): 5", "b.exe(2): 6", "TCP protocol: 80"};
  const std::vector<std::string> bytes = {"512 B", "1.00 KB", "1.50 KB", "1.00 MB", "0 B"};
  const auto remote = [&] {  // proxy rows hold the address alone, without ":"
    return pick(6) == 0 ? addresses[pick(5)] : addresses[pick(5)] + ": " + std::to_string(80 + pick(3));
  };
  const auto host = [&] { return pick(2) == 0 ? addresses[pick(5)] : "host" + std::to_string(pick(4)); };
  const auto scan = [](const auto& rows, int column, const std::string& text, const std::string& source) {
    for (const auto& [id, row] : rows) {
      if (row.columns[column] == text && row.columns[kColumnLocalSource] == source) return std::optional(id);
    }
    return std::optional<RowId>();
  };

  FlowRows store;
  std::vector<std::pair<RowId, FlowRow>> reference;
  // A snapshot must keep showing what it showed, whatever changes later.
  FlowRowsSnapshot held;
  std::vector<FlowRow> heldTexts;
  for (int step = 0; step < 8000; ++step) {
    SCOPED_TRACE(step);
    // Phases of growth and of shrinking, so that many deleted rows pile up and get squeezed out of the order.
    const bool growing = (step / 2000) % 2 == 0;
    const std::size_t operation = pick(100), inserts = growing ? 60 : 5;
    if (reference.empty() || operation < inserts) {
      FlowRow row = MakeRow(remote(), host(), sources[pick(3)]);
      row.columns[kColumnDownload] = bytes[pick(5)];
      reference.insert(reference.begin(), {store.InsertTop(row), row});
    } else if (operation < inserts + 15) {
      auto& [id, row] = reference[pick(reference.size())];
      const std::size_t which = pick(4);
      const int column = std::array{kColumnRemote, kColumnHost, kColumnLocalSource, kColumnDownload}[which];
      const std::string text = which == 0   ? remote()
                               : which == 1 ? host()
                               : which == 2 ? sources[pick(3)]
                                            : bytes[pick(5)];
      row.columns[column] = text;
      row.selected = !row.selected;
      if (pick(2) == 0) {
        ASSERT_TRUE(store.Update(id, [&](FlowRow& stored) {
          stored.columns[column] = text;
          stored.selected = !stored.selected;
        }));
      } else {
        ASSERT_TRUE(store.UpdateColumns(id, FlowRowChange().Set(column, text).Select(row.selected)));
      }
    } else if (operation < 98 || !growing) {
      const std::size_t index = pick(reference.size());
      ASSERT_TRUE(store.Erase(reference[index].first));
      reference.erase(reference.begin() + static_cast<std::ptrdiff_t>(index));
    } else {
      const int column = pick(2) == 0 ? kColumnDownload : pick(2) == 0 ? kColumnRemote : kColumnHost;
      const bool ascending = pick(2) == 0;
      store.SortByColumn(column, ascending);
      std::stable_sort(reference.begin(), reference.end(), [&](const auto& a, const auto& b) {
        const auto& [x, y] = ascending ? std::tie(a, b) : std::tie(b, a);
        if (column == kColumnDownload)
          return ByteTextValue(x.second.columns[column]) < ByteTextValue(y.second.columns[column]);
        return x.second.columns[column] < y.second.columns[column];
      });
    }
    ASSERT_EQ(store.Size(), reference.size());
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
      std::vector<RowId> ids;
      for (const auto& entry : reference) ids.push_back(entry.first);
      ASSERT_EQ(store.IdsTopDown(), ids);
    }
    for (int query = 0; query < 2; ++query) {
      const std::string endpoint = remote(), name = host(), &source = sources[pick(3)], &address = addresses[pick(5)];
      ASSERT_EQ(store.FindRowByEndpoint(endpoint, source), scan(reference, kColumnRemote, endpoint, source));
      ASSERT_EQ(store.FindRowByHost(name, source), scan(reference, kColumnHost, name, source));
      std::vector<RowId> ofAddress;
      for (const auto& [id, row] : reference) {
        if (row.columns[kColumnRemote].starts_with(address + ":")) ofAddress.push_back(id);
      }
      ASSERT_EQ(store.RowsOfAddress(address), ofAddress);
    }
  }
  const auto snapshot = store.Snapshot();
  ASSERT_EQ(snapshot.rows->size(), reference.size());
  for (std::size_t i = 0; i < reference.size(); ++i) {
    EXPECT_EQ(snapshot.rows->at(i).id, reference[i].first);
    EXPECT_EQ(*snapshot.rows->at(i).row, reference[i].second);
  }
}

TEST(FlowRowsTest, HeldSnapshotsKeepTheirRowsAndAnUnchangedListKeepsItsSnapshot) {
  FlowRows rows;
  std::vector<RowId> ids;
  for (const char* remote : {"0: 1", "1: 1", "2: 1", "3: 1"}) ids.push_back(rows.InsertTop(MakeRow(remote, "h", "s")));
  const auto texts = [](const FlowRowsSnapshot& snapshot) {
    std::string shown;
    for (const auto& entry : *snapshot.rows)
      shown += entry.row->columns[kColumnRemote] + "/" + entry.row->columns[kColumnHost] + " ";
    return shown;
  };
  auto oldest = rows.Snapshot();
  EXPECT_EQ(rows.Snapshot().rows, oldest.rows);
  rows.SetSelected(ids[0], false);  // already clear: no change
  EXPECT_EQ(rows.Version(), oldest.version);
  EXPECT_EQ(rows.Snapshot().rows, oldest.rows);

  rows.UpdateColumns(ids[0], FlowRowChange().Set(kColumnHost, "once"));
  const auto middle = rows.Snapshot();
  rows.UpdateColumns(ids[0], FlowRowChange().Set(kColumnHost, "twice"));
  rows.UpdateColumns(ids[0], FlowRowChange().Set(kColumnHost, "thrice"));  // a version no snapshot has seen
  rows.Update(ids[2], [](FlowRow& row) { row.columns[kColumnHost] = "updated"; });
  rows.Erase(ids[1]);
  rows.Snapshot();
  rows.SortByColumn(kColumnRemote, true);
  EXPECT_EQ(texts(rows.Snapshot()), "0: 1/thrice 2: 1/updated 3: 1/h ");
  rows.Clear();
  EXPECT_TRUE(rows.Snapshot().rows->empty());
  EXPECT_EQ(texts(oldest), "3: 1/h 2: 1/h 1: 1/h 0: 1/h ");
  oldest = {};
  rows.InsertTop(MakeRow("4: 1", "h", "s"));
  rows.Snapshot();  // frees the versions only the dropped snapshot showed
  EXPECT_EQ(texts(middle), "3: 1/h 2: 1/h 1: 1/h 0: 1/once ");
}

TEST(FlowRowsTest, LastActivityFollowsItsColumnAcrossChanges) {
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

TEST(FlowRowsTest, TextsReadBackForSortingAndExpiry) {
  const std::pair<const char*, float> bytes[] = {{"512 B", 512.0f},
                                                 {"1.00 KB", 1024.0f},
                                                 {"1.50 KB", 1536.0f},
                                                 {"1.00 MB", 1048576.0f},
                                                 {"4096.00 MB", 4096.0f * 1048576.0f},
                                                 {"", 0.0f},
                                                 {"KB", 0.0f},
                                                 {"7", 7.0f}};
  for (const auto& [text, value] : bytes) EXPECT_FLOAT_EQ(ByteTextValue(text), value) << text;
  for (const std::int64_t t : {0LL, 1'700'000'000LL, 1'142'414'100LL}) EXPECT_EQ(ParseTimestamp(FormatTimestamp(t)), t);
  EXPECT_EQ(ParseTimestamp("2006-3-15 9:15:0"), 1'142'414'100);
  for (const char* bad : {"", "2006-03-15", "garbage"}) EXPECT_FALSE(ParseTimestamp(bad)) << bad;
  // A click on the sorted column flips the order; another column keeps it.
  FlowSortState state;
  EXPECT_FALSE(state.Click(kColumnUpload));
  EXPECT_TRUE(state.Click(kColumnUpload));
  EXPECT_TRUE(state.Click(kColumnDownload));
  EXPECT_EQ(state.column(), kColumnDownload);
}

}  // namespace
}  // namespace quorvel
