#include "persistence/profile_store.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(ProfileStoreTest, KeepsValuesBySectionAndName) {
  MemoryProfileStore store;
  ProfileStore& profile = store;
  EXPECT_EQ(profile.GetInt(kSettingsSection, kApplyFilterValue, 0), 0);
  EXPECT_EQ(profile.GetString(kSettingsSection, kFilterTextValue, "none"), "none");
  profile.SetInt(kSettingsSection, kApplyFilterValue, 1);
  profile.SetString(kSettingsSection, kFilterTextValue, "caf\xC3\xA9 443");
  profile.SetInt(kSettingsSection, HeaderItemValueName(3), -65);
  EXPECT_EQ(profile.GetInt(kSettingsSection, kApplyFilterValue, 0), 1);
  EXPECT_EQ(profile.GetString(kSettingsSection, kFilterTextValue, ""), "caf\xC3\xA9 443");
  EXPECT_EQ(profile.GetInt(kSettingsSection, "nHeaderItem3", 110), -65);
  EXPECT_EQ(profile.GetInt("Other", kApplyFilterValue, 7), 7) << "sections are separate";
  // A text that is not a number reads as the default, as from a profile file.
  EXPECT_EQ(profile.GetInt(kSettingsSection, kFilterTextValue, 9), 9);
  EXPECT_EQ(profile.GetString(kSettingsSection, kApplyFilterValue, ""), "1");
  EXPECT_EQ(HeaderItemValueName(0), "nHeaderItem0");
}

}  // namespace
}  // namespace quorvel
