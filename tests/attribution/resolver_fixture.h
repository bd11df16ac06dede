#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "attribution/host_resolver.h"
#include "support/fake_platform.h"

namespace quorvel::testing {

// An engine with a pool of two resolver threads over fake names and a fake
// clock; rows are added and read under listMutex as the engine does.
class ResolverFixture : public ::testing::Test {
 protected:
  RowId AddRow(const std::string& remote, const std::string& host, const std::string& source) {
    FlowRow row;
    row.columns[kColumnRemote] = remote;
    row.columns[kColumnHost] = host;
    row.columns[kColumnLocalSource] = source;
    std::lock_guard lock(state_.listMutex);
    return state_.rows.InsertTop(row);
  }
  FlowRowPtr Row(RowId id) {
    std::lock_guard lock(state_.listMutex);
    return state_.rows.Get(id);
  }

  EngineState state_;
  FakeNameResolver names_;
  FakeClock clock_;
  HostResolverPool pool_{state_, names_, clock_, 2};
};

}  // namespace quorvel::testing
