#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/clock.h"
#include "platform/linux/socket_table.h"
#include "platform/owner_source.h"

namespace quorvel {

struct ProcOwnerSourceOptions {
  std::string procRoot = "/proc";
  // Tables from netlink sock_diag first; a table it cannot give is read from
  // procRoot/net. Off: the /proc/net files only.
  bool useSockDiag = true;
  // Inodes that no readable process held are looked for again after this long.
  std::int64_t retryUnresolvedMilliseconds = 5000;
};

// Socket owners from the kernel's socket tables (sock_diag, else /proc/net)
// joined with the socket inodes that /proc/PID/fd links name. A pass runs
// about three times a second, so it keeps inode -> pid and pid -> executable
// caches and walks /proc/*/fd only for inodes it has not resolved yet,
// stopping once all are found. A socket held by several processes goes to
// the first one the walk finds. One caller at a time.
class ProcOwnerSource final : public OwnerSource {
 public:
  explicit ProcOwnerSource(Clock& clock, ProcOwnerSourceOptions options = {});

  bool ReadOwners(std::vector<SocketOwner>& owners) override;
  // From the sockets-in-use counts of /proc/net/sockstat and sockstat6.
  std::optional<std::uint64_t> TablesStamp() override;

  // Walks of /proc/*/fd made so far (to check the caching).
  std::uint64_t FdWalks() const { return fdWalks_; }

 private:
  struct Process {
    bool found = false;
    std::string name;
    std::string path;
    std::string exeLink;  // raw /proc/PID/exe target, to notice an exec
    std::uint64_t pass = 0;
  };
  struct Holder {
    int pid = 0;
    std::uint64_t pass = 0;  // last pass whose tables listed the inode
  };

  int ReadTables();
  void DropVanishedProcesses();
  void Walk(bool retryUnresolved);
  void WalkProcess(int pid);
  Process ReadProcess(int pid);
  void Forget();

  Clock& clock_;
  ProcOwnerSourceOptions options_;
  SockDiagReader sockDiag_;

  std::uint64_t pass_ = 0;
  std::uint64_t fdWalks_ = 0;
  std::unordered_map<std::uint64_t, Holder> holders_;           // inode -> holding pid
  std::unordered_map<std::uint64_t, std::uint64_t> unresolved_;  // inode -> last pass listed
  std::int64_t lastUnresolvedWalk_ = 0;                          // steady ms
  std::unordered_map<int, Process> processes_;
  std::unordered_map<int, std::size_t> fdCounts_;  // per pid at the last walk: small ones go first

  // Scratch reused by every pass.
  std::vector<SocketRow> rows_;
  std::string fileBuffer_;
  std::unordered_set<std::uint64_t> wanted_;
  std::vector<std::pair<std::size_t, int>> walkOrder_;
};

}  // namespace quorvel
