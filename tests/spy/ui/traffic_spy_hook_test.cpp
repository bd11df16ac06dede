#include "spy/ui/traffic_spy_hook.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include "engine/engine_state.h"
#include "mainwindow/ui/gui_test_support.h"
#include "mainwindow/ui/main_frame.h"
#include "persistence/data_directory.h"
#include "persistence/profile_store.h"
#include "spy/ui/traffic_spy_dialog.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

struct TrafficSpyHookTest : ::testing::Test, testing::UsesGuiApp {};

TEST_F(TrafficSpyHookTest, LaunchRunsTheSpyModallyOverTheFrameFedByItsEngine) {
  testing::TemporarySettings settings;
  QTemporaryDir dataDirectory;
  testing::FakePlatform fake;
  EngineState state;
  MemoryProfileStore profile;
  testing::FakeMessageBoxes boxes;
  const DataDirectory data(dataDirectory.path().toStdString());
  CMainFrame frame(MainFrameParts{state, fake.Bundle(), profile, data, boxes});
  frame.hooks().trafficSpy = MakeTrafficSpyHook([](QWidget*) { return std::optional<QString>(); });
  bool seen = false;
  QTimer::singleShot(0, &frame, [&] {
    auto* dialog = qobject_cast<CTrafficSpyDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    seen = true;
    EXPECT_EQ(dialog->parentWidget(), &frame);
    EXPECT_TRUE(state.spy.Active());
    EXPECT_EQ(dialog->findChild<QLineEdit*>("localSource")->text(), "All local applications");
    dialog->findChild<QLineEdit*>("filterText")->setText("abc");
    dialog->reject();
  });
  frame.LaunchTrafficSpy();
  EXPECT_TRUE(seen);
  EXPECT_FALSE(state.spy.Active()) << "the spy reference is gone when the run returns";
  EXPECT_EQ(profile.GetString(kSettingsSection, kFilterTextValue, ""), "abc");
}

}  // namespace
}  // namespace quorvel
