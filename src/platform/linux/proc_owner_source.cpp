#include "platform/linux/proc_owner_source.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstring>
#include <optional>
#include <string_view>

namespace quorvel {
namespace {

constexpr std::string_view kSocketLinkPrefix = "socket:[";
constexpr std::string_view kDeletedSuffix = " (deleted)";

std::optional<std::string> ReadLink(const std::string& path) {
  std::array<char, PATH_MAX> buffer;
  const ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
  if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) return std::nullopt;
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return std::nullopt;
  std::array<char, 256> buffer;
  const ssize_t length = read(file, buffer.data(), buffer.size());
  close(file);
  if (length < 0) return std::nullopt;
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::optional<int> ParsePid(const char* name) {
  int pid = 0;
  const char* end = name + std::strlen(name);
  const auto [stop, error] = std::from_chars(name, end, pid);
  if (error != std::errc() || stop != end || pid <= 0) return std::nullopt;
  return pid;
}

// The inode of a "socket:[12345]" link target.
std::optional<std::uint64_t> SocketInode(std::string_view link) {
  if (!link.starts_with(kSocketLinkPrefix)) return std::nullopt;
  link.remove_prefix(kSocketLinkPrefix.size());
  std::uint64_t inode = 0;
  const auto [stop, error] = std::from_chars(link.data(), link.data() + link.size(), inode);
  if (error != std::errc() || stop == link.data() + link.size() || *stop != ']') return std::nullopt;
  return inode;
}

std::string_view TableName(SocketTableKind kind) {
  if (kind.udp) return kind.ipv6 ? "udp6" : "udp";
  return kind.ipv6 ? "tcp6" : "tcp";
}

}  // namespace

ProcOwnerSource::ProcOwnerSource(Clock& clock, ProcOwnerSourceOptions options)
    : clock_(clock), options_(std::move(options)) {}

bool ProcOwnerSource::ReadOwners(std::vector<SocketOwner>& owners) {
  ++pass_;
  rows_.clear();
  if (ReadTables() == 0) {
    owners.clear();
    return false;
  }
  DropVanishedProcesses();

  wanted_.clear();
  bool anyUnresolved = false;
  for (const SocketRow& row : rows_) {
    if (row.inode == 0) continue;
    if (const auto holder = holders_.find(row.inode); holder != holders_.end()) {
      holder->second.pass = pass_;
    } else if (const auto miss = unresolved_.find(row.inode); miss != unresolved_.end()) {
      miss->second = pass_;
      anyUnresolved = true;
    } else {
      wanted_.insert(row.inode);
    }
  }
  const bool retry = anyUnresolved && clock_.SteadyMilliseconds() - lastUnresolvedWalk_ >=
                                          options_.retryUnresolvedMilliseconds;
  if (!wanted_.empty() || retry) Walk(retry);

  std::size_t count = 0;
  for (const SocketRow& row : rows_) {
    if (row.inode == 0) continue;
    const auto holder = holders_.find(row.inode);
    if (holder == holders_.end()) continue;
    const int pid = holder->second.pid;
    auto [entry, inserted] = processes_.try_emplace(pid);
    if (inserted) entry->second = ReadProcess(pid);
    Process& process = entry->second;
    process.pass = pass_;
    // Reuse the caller's strings from the last pass instead of reallocating.
    SocketOwner& owner = count < owners.size() ? owners[count] : owners.emplace_back();
    ++count;
    owner.port = row.port;
    owner.udp = row.udp;
    owner.pid = pid;
    owner.processFound = process.found;
    owner.name = process.name;
    owner.path = process.path;
  }
  owners.resize(count);
  Forget();
  return true;
}

std::optional<std::uint64_t> ProcOwnerSource::TablesStamp() {
  std::optional<std::uint64_t> stamp;
  for (const char* name : {"/net/sockstat", "/net/sockstat6"}) {
    const auto text = ReadProcFile(options_.procRoot + name, fileBuffer_);
    if (!text) continue;
    if (const auto counts = SocketCountsStamp(*text)) stamp = stamp.value_or(0) * 31 + *counts;
  }
  return stamp;
}

int ProcOwnerSource::ReadTables() {
  int tablesRead = 0;
  for (const SocketTableKind kind : kSocketTables) {
    bool ok = options_.useSockDiag && sockDiag_.Read(kind, rows_);
    if (!ok) {
      const std::string path = options_.procRoot + "/net/" + std::string(TableName(kind));
      ok = ReadProcNetTable(path, kind.udp, rows_, fileBuffer_);
    }
    tablesRead += ok ? 1 : 0;
  }
  return tablesRead;
}

// A cached pid may have exited (its sockets then live on in a child, or are
// gone) or exec'd another program; one readlink per pid and pass tells.
void ProcOwnerSource::DropVanishedProcesses() {
  std::unordered_set<int> gone;
  for (auto it = processes_.begin(); it != processes_.end();) {
    const std::string base = options_.procRoot + "/" + std::to_string(it->first);
    const auto exe = ReadLink(base + "/exe");
    if (!exe && !Exists(base)) {
      gone.insert(it->first);
      it = processes_.erase(it);
      continue;
    }
    if (exe && *exe != it->second.exeLink) {
      const std::uint64_t pass = it->second.pass;
      it->second = ReadProcess(it->first);
      it->second.pass = pass;
    }
    ++it;
  }
  if (gone.empty()) return;
  std::erase_if(holders_, [&](const auto& entry) { return gone.contains(entry.second.pid); });
}

void ProcOwnerSource::Walk(bool retryUnresolved) {
  ++fdWalks_;
  if (retryUnresolved) {
    for (const auto& [inode, pass] : unresolved_) {
      if (pass == pass_) wanted_.insert(inode);
    }
  }
  // Processes with few descriptors first: a new socket is most often found
  // before the walk reaches the big fd tables, and the walk stops there.
  walkOrder_.clear();
  std::unordered_map<int, std::size_t> counts;
  if (DIR* proc = opendir(options_.procRoot.c_str())) {
    while (const dirent* entry = readdir(proc)) {
      const auto pid = ParsePid(entry->d_name);
      if (!pid) continue;
      const auto known = fdCounts_.find(*pid);
      const std::size_t count = known == fdCounts_.end() ? 0 : known->second;
      walkOrder_.emplace_back(count, *pid);
      counts.emplace(*pid, count);
    }
    closedir(proc);
  }
  fdCounts_.swap(counts);
  std::sort(walkOrder_.begin(), walkOrder_.end());

  bool complete = true;
  for (const auto& item : walkOrder_) {
    if (wanted_.empty()) {
      complete = false;
      break;
    }
    WalkProcess(item.second);
  }
  for (const std::uint64_t inode : wanted_) unresolved_[inode] = pass_;
  wanted_.clear();
  if (complete) lastUnresolvedWalk_ = clock_.SteadyMilliseconds();
}

void ProcOwnerSource::WalkProcess(int pid) {
  const std::string path = options_.procRoot + "/" + std::to_string(pid) + "/fd";
  const int directory = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return;
  DIR* fds = fdopendir(directory);
  if (fds == nullptr) {
    close(directory);
    return;
  }
  std::size_t count = 0;
  bool stopped = false;
  std::array<char, 64> link;  // "socket:[N]" fits; longer targets are not sockets
  while (const dirent* entry = readdir(fds)) {
    if (entry->d_name[0] == '.') continue;
    ++count;
    const ssize_t length = readlinkat(directory, entry->d_name, link.data(), link.size());
    if (length <= 0) continue;
    const auto inode = SocketInode(std::string_view(link.data(), static_cast<std::size_t>(length)));
    if (!inode) continue;
    // The first holder found owns the socket; one listed as unresolved is
    // taken too, since it costs nothing here.
    const bool wanted = wanted_.erase(*inode) > 0;
    if (wanted || unresolved_.erase(*inode) > 0) holders_[*inode] = Holder{pid, pass_};
    if (wanted && wanted_.empty()) {
      stopped = true;
      break;
    }
  }
  closedir(fds);
  auto& known = fdCounts_[pid];
  known = stopped ? std::max(known, count) : count;
}

ProcOwnerSource::Process ProcOwnerSource::ReadProcess(int pid) {
  const std::string base = options_.procRoot + "/" + std::to_string(pid);
  Process process;
  if (auto exe = ReadLink(base + "/exe")) {
    process.found = true;
    process.exeLink = *exe;
    std::string_view path = process.exeLink;
    if (path.ends_with(kDeletedSuffix)) path.remove_suffix(kDeletedSuffix.size());
    process.path = path;
    const auto slash = path.rfind('/');
    process.name = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
  } else if (auto comm = ReadSmallFile(base + "/comm")) {
    // Other users' executables are unreadable without ptrace rights; the
    // command name still is.
    process.found = true;
    if (!comm->empty() && comm->back() == '\n') comm->pop_back();
    process.name = std::move(*comm);
  }
  return process;
}

// Drops what belongs to inodes the tables no longer list.
void ProcOwnerSource::Forget() {
  std::erase_if(holders_, [&](const auto& entry) { return entry.second.pass != pass_; });
  std::erase_if(unresolved_, [&](const auto& entry) { return entry.second != pass_; });
  std::erase_if(processes_, [&](const auto& entry) { return entry.second.pass != pass_; });
}

}  // namespace quorvel
