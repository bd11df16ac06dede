#include "persistence/text_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

namespace quorvel {
namespace {

namespace fs = std::filesystem;

constexpr mode_t kNewFileMode = 0644;

Status CantWrite(const fs::path& path) { return Status::Failure("Can't write to " + path.string()); }

fs::path DirectoryOf(const fs::path& path) {
  const fs::path parent = path.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void SyncDirectory(const fs::path& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // Best effort: the file itself is already synced.
  ::fsync(fd);
  ::close(fd);
}

struct Temporary {
  int fd = -1;
  fs::path path;
};

// A new hidden temporary file in directory, created with it if need be.
std::optional<Temporary> CreateTemporary(const fs::path& directory, const std::string& leaf) {
  std::error_code error;
  fs::create_directories(directory, error);
  if (error) return std::nullopt;
  std::string pattern = (directory / ("." + leaf + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  return Temporary{fd, fs::path(name.data())};
}

// Writes bytes into the temporary, syncs and closes it; on failure (or
// without bytes) nothing is left behind.
bool FillTemporary(const Temporary& temporary, const std::optional<std::string_view>& bytes, mode_t mode) {
  bool ok = bytes && WriteAll(temporary.fd, *bytes) && ::fchmod(temporary.fd, mode) == 0 && ::fsync(temporary.fd) == 0;
  ok = (::close(temporary.fd) == 0) && ok;
  if (!ok) ::unlink(temporary.path.c_str());
  return ok;
}

std::optional<fs::path> WriteTemporary(const fs::path& directory, const std::string& leaf,
                                       std::string_view bytes, mode_t mode) {
  const auto temporary = CreateTemporary(directory, leaf);
  if (!temporary || !FillTemporary(*temporary, bytes, mode)) return std::nullopt;
  return temporary->path;
}

enum class Publish { kDone, kExists, kFailed };

// Gives the temporary file the target name unless that name is taken.
Publish PublishWithoutReplacing(const fs::path& temporary, const fs::path& target) {
  if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return Publish::kDone;
  }
  if (errno == EEXIST) return Publish::kExists;
  if (errno != EINVAL && errno != ENOSYS) return Publish::kFailed;
  // The file system cannot rename without replacing; a hard link can.
  if (::link(temporary.c_str(), target.c_str()) == 0) {
    ::unlink(temporary.c_str());
    return Publish::kDone;
  }
  if (errno == EEXIST) return Publish::kExists;
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return Publish::kFailed;
  // No hard links either: check, then rename.
  std::error_code error;
  if (fs::symlink_status(target, error).type() != fs::file_type::not_found) return Publish::kExists;
  return ::rename(temporary.c_str(), target.c_str()) == 0 ? Publish::kDone : Publish::kFailed;
}

}  // namespace

Status WriteFileAtomically(const fs::path& path, std::string_view bytes) {
  const fs::path directory = DirectoryOf(path);
  // Keep the permissions a user gave the old file.
  mode_t mode = kNewFileMode;
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) mode = old.st_mode & 07777;
  const auto temporary = WriteTemporary(directory, path.filename().string(), bytes, mode);
  if (!temporary) return CantWrite(path);
  if (::rename(temporary->c_str(), path.c_str()) != 0) {
    ::unlink(temporary->c_str());
    return CantWrite(path);
  }
  SyncDirectory(directory);
  return Status::Success();
}

NewFileResult WriteNewFileAtomically(const fs::path& directory, std::string_view bytes,
                                     const std::function<std::string(int attempt)>& nameForAttempt,
                                     int maxAttempts) {
  return WriteNewFileAtomically(
      directory, [bytes]() -> std::optional<std::string> { return std::string(bytes); }, nameForAttempt,
      maxAttempts);
}

NewFileResult WriteNewFileAtomically(const fs::path& directory,
                                     const std::function<std::optional<std::string>()>& takeBytes,
                                     const std::function<std::string(int attempt)>& nameForAttempt,
                                     int maxAttempts) {
  const fs::path first = directory / nameForAttempt(1);
  const auto temporary = CreateTemporary(directory, "new");
  if (!temporary) return {CantWrite(first), {}};
  const std::optional<std::string> bytes = takeBytes();
  if (!bytes) {
    FillTemporary(*temporary, std::nullopt, kNewFileMode);
    return {Status::Success(), {}};
  }
  if (!FillTemporary(*temporary, *bytes, kNewFileMode)) return {CantWrite(first), {}};
  for (int attempt = 1; attempt <= maxAttempts; ++attempt) {
    const fs::path target = attempt == 1 ? first : directory / nameForAttempt(attempt);
    const Publish outcome = PublishWithoutReplacing(temporary->path, target);
    if (outcome == Publish::kDone) {
      SyncDirectory(directory);
      return {Status::Success(), target};
    }
    if (outcome == Publish::kFailed) break;
  }
  ::unlink(temporary->path.c_str());
  return {CantWrite(first), {}};
}

std::optional<std::string> ReadFileHead(const fs::path& path, std::size_t maxBytes) {
  // Non-blocking so that opening a FIFO cannot hang; regular files ignore it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes;
  char buffer[65536];
  while (bytes.size() < maxBytes) {
    const std::size_t wanted = std::min(sizeof buffer, maxBytes - bytes.size());
    const ssize_t got = ::read(fd, buffer, wanted);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return bytes;
}

bool LineReader::Next(std::size_t maxLength, std::string_view& line) {
  if (rest_.empty()) return false;
  const std::size_t end = rest_.find('\n');
  if (end == std::string_view::npos) {
    line = rest_;
    rest_ = {};
  } else {
    line = rest_.substr(0, end);
    rest_.remove_prefix(end + 1);
  }
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > maxLength) line = line.substr(0, maxLength);
  return true;
}

std::optional<std::string_view> NextToken(std::string_view& rest) {
  std::size_t start = 0;
  while (start < rest.size() && IsTokenSeparator(rest[start])) ++start;
  if (start == rest.size()) {
    rest = {};
    return std::nullopt;
  }
  std::size_t end = start;
  while (end < rest.size() && !IsTokenSeparator(rest[end])) ++end;
  const std::string_view token = rest.substr(start, end - start);
  rest.remove_prefix(end);
  return token;
}

}  // namespace quorvel
