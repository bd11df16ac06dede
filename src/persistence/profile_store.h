#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace quorvel {

// The per-user profile (organisation "Dorvane", application "Pelkwind").
inline constexpr std::string_view kProfileOrganization = "Dorvane";
inline constexpr std::string_view kProfileApplication = "Pelkwind";
inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kCaptureToFileValue = "bCaptureToFile";
inline constexpr std::string_view kApplyFilterValue = "bApplyFilter";
inline constexpr std::string_view kCapturePacketsToFileValue = "strCapturePacketsToFile";
inline constexpr std::string_view kFilterTextValue = "strFilterText";
// "Name hosts from observed traffic": 1 (the default) or 0.
inline constexpr std::string_view kNameHostsFromTrafficValue = "bNameHostsFromTraffic";

// "nHeaderItem%u": the saved width of flow-list column `column`.
std::string HeaderItemValueName(unsigned column);

// Per-user values by section and value name, so that core code can keep them
// without knowing where they are stored. Texts are UTF-8.
class ProfileStore {
 public:
  virtual ~ProfileStore() = default;
  virtual int GetInt(std::string_view section, std::string_view name, int defaultValue) const = 0;
  virtual void SetInt(std::string_view section, std::string_view name, int value) = 0;
  virtual std::string GetString(std::string_view section, std::string_view name,
                                std::string_view defaultValue) const = 0;
  virtual void SetString(std::string_view section, std::string_view name, std::string_view value) = 0;
};

// Keeps the values in memory, as text like a profile file does: an integer
// read from a value that is not a number gives the default. Thread-safe.
class MemoryProfileStore final : public ProfileStore {
 public:
  int GetInt(std::string_view section, std::string_view name, int defaultValue) const override;
  void SetInt(std::string_view section, std::string_view name, int value) override;
  std::string GetString(std::string_view section, std::string_view name,
                        std::string_view defaultValue) const override;
  void SetString(std::string_view section, std::string_view name, std::string_view value) override;

 private:
  using Key = std::pair<std::string, std::string>;
  mutable std::mutex mutex_;
  std::map<Key, std::string, std::less<>> values_;
};

}  // namespace quorvel
