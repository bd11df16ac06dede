#include "filters/filters_file.h"

#include <algorithm>
#include <mutex>

#include "engine/engine_state.h"
#include "persistence/latin1.h"
#include "persistence/text_file.h"

namespace quorvel {
namespace {

constexpr std::size_t kLineLimit = 519;
constexpr std::size_t kPatternLimit = 259;
// Rules are typed by hand; these bounds only stop hostile files.
constexpr std::size_t kReadLimit = 4 * 1024 * 1024;
constexpr std::size_t kRuleLimit = 100'000;
constexpr char kBlankSubstitute = '?';

// The leading decimal number of a line as "%d" reads it; 0 when there is none.
long long LeadingNumber(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && IsTokenSeparator(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  long long value = 0;
  constexpr long long kCap = 1LL << 40;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    value = std::min(kCap, value * 10 + (line[i] - '0'));
  }
  return negative ? -value : value;
}

std::string PatternFromToken(std::string_view token) {
  std::string pattern(token.substr(0, kPatternLimit));
  std::replace(pattern.begin(), pattern.end(), kBlankSubstitute, ' ');
  return Latin1ToUtf8(pattern);
}

Status AppendPattern(std::string_view pattern, std::string& bytes) {
  const auto latin1 = Utf8ToLatin1(pattern);
  if (!latin1) return Status::Failure("Can't save the filters: " + DescribeNotLatin1(pattern));
  for (const char c : *latin1) {
    if (c == ' ') {
      bytes += kBlankSubstitute;
    } else if (IsTokenSeparator(c)) {
      return Status::Failure("Can't save the filters: the text \"" + std::string(pattern) +
                             "\" contains a tab or a line break");
    } else {
      bytes += c;
    }
  }
  return Status::Success();
}

}  // namespace

std::filesystem::path FiltersFilePath(const DataDirectory& directory) {
  return directory.File(kFiltersFileName);
}

std::filesystem::path FiltersFilePath() { return FiltersFilePath(DataDirectory::ForProgram()); }

FiltersFileContent ReadFiltersText(std::string_view fileBytes) {
  FiltersFileContent content;
  LineReader lines(fileBytes);
  std::string_view line;
  if (!lines.Next(kLineLimit, line)) return content;
  content.mode = LeadingNumber(line) == 1 ? FilterMode::kBlackList : FilterMode::kWhiteList;
  while (content.rules.size() < kRuleLimit && lines.Next(kLineLimit, line)) {
    const auto remote = NextToken(line);
    if (!remote) continue;
    const auto local = NextToken(line);
    content.rules.push_back({PatternFromToken(*remote), local ? PatternFromToken(*local) : std::string()});
  }
  return content;
}

FiltersFileContent ReadFiltersFile(const std::filesystem::path& path) {
  const auto bytes = ReadFileHead(path, kReadLimit);
  return bytes ? ReadFiltersText(*bytes) : FiltersFileContent{};
}

Status FormatFiltersFile(const std::vector<FilterRule>& rules, FilterMode mode, std::string& fileBytes) {
  std::string bytes = mode == FilterMode::kBlackList ? "1\r\n" : "2\r\n";
  for (const FilterRule& rule : rules) {
    // An empty remote pattern would leave the line starting with the local
    // one; "<ANY>" means the same (the empty text occurs in every text).
    const std::string_view remote = rule.remotePattern.empty() ? kAnyPattern : rule.remotePattern;
    if (Status status = AppendPattern(remote, bytes); !status) return status;
    bytes += ' ';
    if (Status status = AppendPattern(rule.localPattern, bytes); !status) return status;
    bytes += "\r\n";
  }
  fileBytes = std::move(bytes);
  return Status::Success();
}

Status WriteFiltersFile(const std::filesystem::path& path, const std::vector<FilterRule>& rules,
                        FilterMode mode) {
  std::string bytes;
  if (Status status = FormatFiltersFile(rules, mode, bytes); !status) return status;
  return WriteFileAtomically(path, bytes);
}

void LoadFilters(EngineState& state, const std::filesystem::path& path) {
  FiltersFileContent content = ReadFiltersFile(path);
  std::lock_guard lock(state.listMutex);
  state.filters.rules = std::move(content.rules);
  if (content.mode) state.filters.mode = *content.mode;
  // Flows hidden under the old rules are decided again with their next event.
  state.hidden.Clear();
}

}  // namespace quorvel
