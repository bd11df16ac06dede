#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/status.h"

namespace quorvel {

// Replaces the file with bytes, whole or not at all: the bytes go to a
// temporary file in the same directory, are synced, then renamed over the
// target. On failure the old file stays and the temporary is removed; the
// error is "Can't write to <full path>". A missing directory is created.
Status WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

struct NewFileResult {
  Status status;
  std::filesystem::path path;  // the file written, when status.ok
};

// Writes bytes, whole or not at all, as a new file in directory under the
// first of nameForAttempt(1), nameForAttempt(2), ... up to maxAttempts that
// does not exist yet. Never replaces a file, even when another writer
// creates one of the names at the same moment.
NewFileResult WriteNewFileAtomically(const std::filesystem::path& directory, std::string_view bytes,
                                     const std::function<std::string(int attempt)>& nameForAttempt,
                                     int maxAttempts);
// The same with bytes asked for only once the file could be created, so that
// a caller gives its data up only when there is a place for it; no bytes
// (nullopt) write no file.
NewFileResult WriteNewFileAtomically(const std::filesystem::path& directory,
                                     const std::function<std::optional<std::string>()>& takeBytes,
                                     const std::function<std::string(int attempt)>& nameForAttempt,
                                     int maxAttempts);

// At most maxBytes from the start of a regular file; nullopt when it cannot be
// opened or is not a regular file (a FIFO or device must not block or flood).
std::optional<std::string> ReadFileHead(const std::filesystem::path& path, std::size_t maxBytes);

// Splits text into lines ending in LF or CR LF; the last line may lack its
// end. Lines longer than the reader's maximum are cut and their rest ignored.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : rest_(text) {}

  // The next line without its line end, at most maxLength characters; false
  // when no line is left.
  bool Next(std::size_t maxLength, std::string_view& line);

 private:
  std::string_view rest_;
};

// The separators between tokens in the data files, as "%s" sees them.
inline bool IsTokenSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The next separator-delimited token of rest, which then starts after it;
// nullopt when only separators are left.
std::optional<std::string_view> NextToken(std::string_view& rest);

}  // namespace quorvel
