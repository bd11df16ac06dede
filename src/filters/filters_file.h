#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "engine/filter_rules.h"
#include "persistence/data_directory.h"

namespace quorvel {

struct EngineState;

inline constexpr std::string_view kFiltersFileName = "filters.dat";

std::filesystem::path FiltersFilePath(const DataDirectory& directory);
std::filesystem::path FiltersFilePath();  // in DataDirectory::ForProgram()

// What a filters file holds.
struct FiltersFileContent {
  std::vector<FilterRule> rules;   // in file order
  std::optional<FilterMode> mode;  // set when the file had a first line
};

// Reads the mode from the first line's leading number (1 black list, anything
// else white list) and one rule from each further line. Missing or unreadable
// files give no rules and no mode.
FiltersFileContent ReadFiltersFile(const std::filesystem::path& path);
// The same for the bytes of a filters file.
FiltersFileContent ReadFiltersText(std::string_view fileBytes);

// The bytes of a filters file: the mode line, then one "%s %s" line per rule
// in the order given, blanks written as "?". Patterns the file cannot hold
// (characters above U+00FF, tabs, line breaks) are refused.
Status FormatFiltersFile(const std::vector<FilterRule>& rules, FilterMode mode, std::string& fileBytes);

// Writes the file whole or not at all; on a refused pattern nothing is written.
Status WriteFiltersFile(const std::filesystem::path& path, const std::vector<FilterRule>& rules,
                        FilterMode mode);

// Reads the file, then under state.listMutex replaces state.filters' rules,
// and its mode when the file had a first line, and forgets the hidden flows.
void LoadFilters(EngineState& state, const std::filesystem::path& path);

}  // namespace quorvel
