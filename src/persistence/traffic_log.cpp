#include "persistence/traffic_log.h"

#include <algorithm>
#include <system_error>

#include "common/format.h"
#include "persistence/latin1.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLineLimit = 1999;
// Far beyond any flow list, small enough that a hostile file cannot exhaust
// memory.
constexpr std::size_t kReadLimit = 128 * 1024 * 1024;
constexpr std::size_t kRowLimit = 1'000'000;
constexpr int kNameAttempts = 1000;
constexpr std::string_view kLogExtension = ".log";
constexpr char kBlankSubstitute = '_';

bool HasLogExtension(std::string_view name) {
  return name.size() >= kLogExtension.size() && name.ends_with(kLogExtension);
}

// Names of the directory's entries ending in ".log" for which keep() holds.
template <typename Keep>
std::vector<std::string> LogNames(const fs::path& directory, Keep keep) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (HasLogExtension(name) && keep(*it)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

void AppendField(std::string_view latin1, std::string& line) {
  // An empty field must stay one token.
  if (latin1.empty()) {
    line += kBlankSubstitute;
    return;
  }
  for (const char c : latin1) line += IsTokenSeparator(c) ? kBlankSubstitute : c;
}

}  // namespace

std::string LogDisplayName(std::string_view fileName) {
  std::string display(fileName.substr(0, fileName.find('.')));
  for (char& c : display) {
    if (c == '_')
      c = ' ';
    else if (c == 't')
      c = ':';
  }
  // File names are bytes; show ones that are not UTF-8 as Latin-1.
  return IsValidUtf8(display) ? display : Latin1ToUtf8(display);
}

std::optional<std::string> LogFileNameFor(std::string_view displayText) {
  if (displayText.empty() || displayText.find_first_of("._t/") != std::string_view::npos) return std::nullopt;
  std::string name(displayText);
  for (char& c : name) {
    if (c == ' ')
      c = '_';
    else if (c == ':')
      c = 't';
  }
  return name + std::string(kLogExtension);
}

std::string FormatTrafficLog(const std::vector<LogRow>& rows) {
  std::string bytes;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    for (std::size_t i = 0; i < kLogFieldCount; ++i) {
      if (i > 0) bytes += ' ';
      AppendField(Utf8ToLatin1Lossy((*row)[i]), bytes);
    }
    bytes += "\r\n";
  }
  return bytes;
}

NewFileResult WriteTrafficLog(const fs::path& directory, const std::vector<LogRow>& rows, std::int64_t now) {
  return WriteTrafficLog(directory, now, [&rows]() -> std::optional<std::vector<LogRow>> { return rows; });
}

NewFileResult WriteTrafficLog(const fs::path& directory, std::int64_t now,
                              const std::function<std::optional<std::vector<LogRow>>()>& takeRows) {
  const std::string display = FormatTimestamp(now);
  if (!LogFileNameFor(display)) {
    return {Status::Failure("Can't save the traffic log: \"" + display + "\" is no log name"), {}};
  }
  const auto nameForAttempt = [&display](int attempt) {
    const std::string text = attempt == 1 ? display : display + " " + std::to_string(attempt);
    return *LogFileNameFor(text);
  };
  const auto takeBytes = [&takeRows]() -> std::optional<std::string> {
    const auto rows = takeRows();
    if (!rows) return std::nullopt;
    return FormatTrafficLog(*rows);
  };
  return WriteNewFileAtomically(directory, takeBytes, nameForAttempt, kNameAttempts);
}

std::vector<LogFileEntry> ListLogs(const fs::path& directory) {
  std::vector<LogFileEntry> entries;
  const auto isFile = [](const fs::directory_entry& entry) {
    std::error_code error;
    return entry.is_regular_file(error);
  };
  for (std::string& name : LogNames(directory, isFile)) {
    std::string display = LogDisplayName(name);
    entries.push_back({std::move(name), std::move(display)});
  }
  return entries;
}

std::vector<LogRow> ReadTrafficLogText(std::string_view fileBytes) {
  std::vector<LogRow> rows;
  LineReader lines(fileBytes);
  std::string_view line;
  while (rows.size() < kRowLimit && lines.Next(kLineLimit, line)) {
    LogRow row;
    bool any = false;
    for (std::size_t i = 0; i < kLogFieldCount; ++i) {
      const auto token = NextToken(line);
      if (!token) break;
      any = true;
      std::string field(token->substr(0, kLogFieldLimits[i]));
      if (field == "_") field.clear();
      std::replace(field.begin(), field.end(), kBlankSubstitute, ' ');
      row[i] = Latin1ToUtf8(field);
    }
    if (any) rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<LogRow> ReadTrafficLog(const fs::path& path) {
  const auto bytes = ReadFileHead(path, kReadLimit);
  return bytes ? ReadTrafficLogText(*bytes) : std::vector<LogRow>{};
}

bool IsTrafficLogName(std::string_view name) {
  // "YYYY-MM-DD_HHtMMtSS", then "_N" for a later save within the same second,
  // then ".log".
  const auto digits = [&name](std::size_t fewest, std::size_t most) {
    std::size_t taken = 0;
    while (taken < name.size() && name[taken] >= '0' && name[taken] <= '9') ++taken;
    if (taken < fewest || taken > most) return false;
    name.remove_prefix(taken);
    return true;
  };
  const auto literal = [&name](char c) {
    if (!name.starts_with(c)) return false;
    name.remove_prefix(1);
    return true;
  };
  if (!(digits(4, 6) && literal('-') && digits(2, 2) && literal('-') && digits(2, 2) && literal('_') &&
        digits(2, 2) && literal('t') && digits(2, 2) && literal('t') && digits(2, 2))) {
    return false;
  }
  if (literal('_') && !digits(1, 4)) return false;
  return name == kLogExtension;
}

Status ClearAllLogs(const fs::path& directory) {
  // Files and links to them with the names the program gives its logs; a
  // directory that happens to have such a name stays.
  const auto isNotDirectory = [](const fs::directory_entry& entry) {
    std::error_code error;
    const fs::file_type type = entry.symlink_status(error).type();
    return (type == fs::file_type::regular || type == fs::file_type::symlink) &&
           IsTrafficLogName(entry.path().filename().string());
  };
  Status result = Status::Success();
  for (const std::string& name : LogNames(directory, isNotDirectory)) {
    std::error_code error;
    const fs::path path = directory / name;
    if (!fs::remove(path, error) && result.ok) result = Status::Failure("Can't delete " + path.string());
  }
  return result;
}

}  // namespace quorvel
