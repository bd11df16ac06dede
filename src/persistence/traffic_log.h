#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "persistence/text_file.h"

namespace quorvel {

inline constexpr std::size_t kLogFieldCount = 9;
// The nine flow-list columns of one row, UTF-8: remote endpoint, remote host,
// DL, UL, DL & UL, local source, first activity, last activity, full path.
using LogRow = std::array<std::string, kLogFieldCount>;

// The longest field the viewer reads, per column, in characters.
inline constexpr std::array<std::size_t, kLogFieldCount> kLogFieldLimits = {49,  499, 29, 29, 29,
                                                                            259, 49,  49, 259};

struct LogFileEntry {
  std::string fileName;     // e.g. 2005-10-12_14t30t05.log
  std::string displayText;  // e.g. 2005-10-12 14:30:05
};

// The name shown for a log file: cut at the first ".", each "_" shown as a
// blank and each "t" as ":".
std::string LogDisplayName(std::string_view fileName);

// The file name for a display text: blanks as "_", ":" as "t", then ".log";
// nullopt when the text is empty or holds ".", "_", "t" or "/", which would
// not map back.
std::optional<std::string> LogFileNameFor(std::string_view displayText);

// The bytes of a log of rows given top to bottom: one line per row, the
// bottom row first, so that the viewer (which shows the last line at the top)
// shows them in list order. Characters above U+00FF are written as "?".
std::string FormatTrafficLog(const std::vector<LogRow>& rows);

// Writes the rows as a new log named after FormatTimestamp(now), with " 2",
// " 3"... added when that name is taken, so a save never overwrites another.
NewFileResult WriteTrafficLog(const std::filesystem::path& directory, const std::vector<LogRow>& rows,
                              std::int64_t now);
// The same with rows taken only once the new file exists (none: no file).
NewFileResult WriteTrafficLog(const std::filesystem::path& directory, std::int64_t now,
                              const std::function<std::optional<std::vector<LogRow>>()>& takeRows);

// Every "*.log" file of the directory, by file name.
std::vector<LogFileEntry> ListLogs(const std::filesystem::path& directory);

// The rows of a log in file order (the viewer shows them reversed); none when
// it cannot be read. Over-long lines and fields are cut; missing fields are
// empty; lines without any token are skipped.
std::vector<LogRow> ReadTrafficLog(const std::filesystem::path& path);
// The same for the bytes of a log file.
std::vector<LogRow> ReadTrafficLogText(std::string_view fileBytes);

// True for the names WriteTrafficLog gives: "2005-10-12_14t30t05.log", or
// with "_2", "_3"... before ".log".
bool IsTrafficLogName(std::string_view fileName);

// Deletes the directory's files whose names IsTrafficLogName accepts, and
// nothing else; the first failure, if any, is reported after trying all.
Status ClearAllLogs(const std::filesystem::path& directory);

}  // namespace quorvel
