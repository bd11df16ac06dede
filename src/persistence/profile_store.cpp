#include "persistence/profile_store.h"

#include <charconv>

namespace quorvel {

std::string HeaderItemValueName(unsigned column) { return "nHeaderItem" + std::to_string(column); }

int MemoryProfileStore::GetInt(std::string_view section, std::string_view name, int defaultValue) const {
  const std::string text = GetString(section, name, {});
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return defaultValue;
  return value;
}

void MemoryProfileStore::SetInt(std::string_view section, std::string_view name, int value) {
  SetString(section, name, std::to_string(value));
}

std::string MemoryProfileStore::GetString(std::string_view section, std::string_view name,
                                          std::string_view defaultValue) const {
  std::lock_guard lock(mutex_);
  const auto found = values_.find(Key(section, name));
  return found == values_.end() ? std::string(defaultValue) : found->second;
}

void MemoryProfileStore::SetString(std::string_view section, std::string_view name, std::string_view value) {
  std::lock_guard lock(mutex_);
  values_[Key(section, name)] = std::string(value);
}

}  // namespace quorvel
