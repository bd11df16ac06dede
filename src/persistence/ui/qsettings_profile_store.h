#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "persistence/profile_store.h"

class QSettings;

namespace quorvel {

// The per-user profile kept with QSettings("Dorvane", "Pelkwind"): one
// group per section. Thread-safe; values are written through at once.
class QSettingsProfileStore final : public ProfileStore {
 public:
  QSettingsProfileStore();
  ~QSettingsProfileStore() override;

  int GetInt(std::string_view section, std::string_view name, int defaultValue) const override;
  void SetInt(std::string_view section, std::string_view name, int value) override;
  std::string GetString(std::string_view section, std::string_view name,
                        std::string_view defaultValue) const override;
  void SetString(std::string_view section, std::string_view name, std::string_view value) override;

  // Writes pending values to storage.
  void Sync();

 private:
  mutable std::mutex mutex_;
  std::unique_ptr<QSettings> settings_;
};

}  // namespace quorvel
