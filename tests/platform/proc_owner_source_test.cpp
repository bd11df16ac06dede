#include "platform/linux/proc_owner_source.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "persistence/scratch_directory.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

// A /proc look-alike: socket tables under net/ and per-process fd links, exe links and comm files.
class FakeProc {
 public:
  FakeProc() { fs::create_directories(dir_ / "net"); }
  std::string Root() const { return dir_.path().string(); }

  // Writes one table of (port, inode) rows; tables never written do not exist.
  void SetTable(const std::string& name, const std::vector<std::pair<std::uint16_t, std::uint64_t>>& rows) {
    std::ofstream file(dir_ / "net" / name, std::ios::trunc);
    file << "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
    for (const auto& [port, inode] : rows) {
      char local[16];
      std::snprintf(local, sizeof local, "0100007F:%04X", port);
      file << "   0: " << local << " 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 " << inode
           << " 1 0000000000000000 100 0 0 10 0\n";
    }
  }
  void AddProcess(int pid, std::optional<std::string> exe, std::optional<std::string> comm) {
    fs::create_directories(Process(pid) / "fd");
    if (exe) SetExe(pid, *exe);
    if (comm) std::ofstream(Process(pid) / "comm") << *comm << "\n";
  }
  void SetExe(int pid, const std::string& exe) {
    fs::remove(Process(pid) / "exe");
    fs::create_symlink(exe, Process(pid) / "exe");
  }
  void AddFd(int pid, int fd, const std::string& target) { fs::create_symlink(target, Fd(pid, fd)); }
  void AddSocket(int pid, int fd, std::uint64_t inode) { AddFd(pid, fd, "socket:[" + std::to_string(inode) + "]"); }
  void Remove(const fs::path& path) { fs::remove_all(path); }
  fs::path Process(int pid) const { return dir_ / std::to_string(pid); }
  fs::path Fd(int pid, int fd) const { return Process(pid) / "fd" / std::to_string(fd); }
  fs::path Table(const std::string& name) const { return dir_ / "net" / name; }

 private:
  testing::ScratchDirectory dir_;
};

struct Owner {
  std::uint16_t port;
  bool udp;
  int pid;
  bool found;
  std::string name;
  std::string path;
  bool operator==(const Owner&) const = default;
};

void PrintTo(const Owner& o, std::ostream* out) {
  *out << "{" << o.port << (o.udp ? "/udp" : "/tcp") << " pid " << o.pid << (o.found ? "" : " gone") << " '"
       << o.name << "' '" << o.path << "'}";
}

class ProcOwnerSourceTest : public ::testing::Test {
 protected:
  std::vector<Owner> Pass(bool expectOk = true) {
    std::vector<SocketOwner> owners;
    EXPECT_EQ(source_.ReadOwners(owners), expectOk);
    std::vector<Owner> result;
    for (const SocketOwner& o : owners) result.push_back({o.port, o.udp, o.pid, o.processFound, o.name, o.path});
    return result;
  }

  FakeProc proc_;
  testing::FakeClock clock_;
  ProcOwnerSource source_{clock_, ProcOwnerSourceOptions{proc_.Root(), false, 5000}};
};

TEST_F(ProcOwnerSourceTest, JoinsTablesWithProcessesInTableOrderAndFailsOnlyWithoutAnyTable) {
  EXPECT_TRUE(Pass(false).empty());
  proc_.AddProcess(100, "/usr/bin/alpha", "alpha");
  proc_.AddProcess(200, "/opt/beta/beta (deleted)", "beta");
  proc_.AddProcess(300, std::nullopt, "gamma");  // exe unreadable: other user's process
  proc_.AddProcess(400, std::nullopt, std::nullopt);
  proc_.AddSocket(100, 3, 1001);
  proc_.AddFd(100, 4, "/var/log/alpha.log");
  proc_.AddFd(100, 5, "pipe:[1002]");
  proc_.AddSocket(200, 7, 2001);
  proc_.AddSocket(200, 8, 2002);
  proc_.AddSocket(300, 0, 3001);
  proc_.AddSocket(400, 3, 4001);
  proc_.SetTable("tcp", {{80, 1001}, {81, 0}, {82, 9999}, {443, 2001}});
  proc_.SetTable("tcp6", {{22, 3001}});
  proc_.SetTable("udp", {{53, 2002}, {123, 4001}});
  proc_.SetTable("udp6", {{5353, 1001}});
  const std::vector<Owner> expected = {
      {80, false, 100, true, "alpha", "/usr/bin/alpha"},
      {443, false, 200, true, "beta", "/opt/beta/beta"},
      {22, false, 300, true, "gamma", ""},
      {53, true, 200, true, "beta", "/opt/beta/beta"},
      {123, true, 400, false, "", ""},  // the pid, when the process cannot be named
      {5353, true, 100, true, "alpha", "/usr/bin/alpha"},
  };
  EXPECT_EQ(Pass(), expected);
  EXPECT_EQ(Pass(), expected) << "the cached pass gives the same answer";
  EXPECT_EQ(source_.FdWalks(), 1u);
  for (const char* table : {"tcp", "tcp6", "udp"}) proc_.Remove(proc_.Table(table));
  EXPECT_EQ(Pass().size(), 1u) << "one table is enough";
  proc_.Remove(proc_.Table("udp6"));
  EXPECT_TRUE(Pass(false).empty());
}

TEST_F(ProcOwnerSourceTest, WalksOnlyForNewInodesAndRetriesUnresolvedOnesEveryFewSeconds) {
  proc_.AddProcess(100, "/usr/bin/alpha", "alpha");
  proc_.SetTable("tcp", {{80, 1001}});
  EXPECT_TRUE(Pass().empty());
  EXPECT_EQ(source_.FdWalks(), 1u);
  proc_.AddSocket(100, 3, 1001);  // now visible, but not looked for yet
  clock_.Advance(4999);
  EXPECT_TRUE(Pass().empty());
  EXPECT_EQ(source_.FdWalks(), 1u);
  clock_.Advance(1);
  EXPECT_EQ(Pass(), (std::vector<Owner>{{80, false, 100, true, "alpha", "/usr/bin/alpha"}}));
  Pass();
  EXPECT_EQ(source_.FdWalks(), 2u);
  proc_.AddSocket(100, 4, 1002);
  proc_.SetTable("tcp", {{80, 1001}, {81, 1002}});
  EXPECT_EQ(Pass().size(), 2u);
  Pass();
  EXPECT_EQ(source_.FdWalks(), 3u);
}

TEST_F(ProcOwnerSourceTest, FollowsInodesThroughExecExitAndReuse) {
  proc_.AddProcess(100, "/bin/sh", "sh");
  proc_.AddSocket(100, 3, 1001);
  proc_.SetTable("tcp", {{8080, 1001}});
  EXPECT_EQ(Pass().at(0).name, "sh");
  proc_.SetExe(100, "/usr/sbin/daemon");
  EXPECT_EQ(Pass(), (std::vector<Owner>{{8080, false, 100, true, "daemon", "/usr/sbin/daemon"}})) << "an exec";
  EXPECT_EQ(source_.FdWalks(), 1u);
  // The process exits; the socket lives on in the one it started.
  proc_.Remove(proc_.Process(100));
  proc_.AddProcess(101, "/usr/bin/server", "server");
  proc_.AddSocket(101, 3, 1001);
  EXPECT_EQ(Pass(), (std::vector<Owner>{{8080, false, 101, true, "server", "/usr/bin/server"}}));
  // The inode disappears, then its number comes back held elsewhere: it must be looked up afresh.
  proc_.SetTable("tcp", {});
  EXPECT_TRUE(Pass().empty());
  proc_.Remove(proc_.Fd(101, 3));
  proc_.AddProcess(200, "/usr/bin/beta", "beta");
  proc_.AddSocket(200, 3, 1001);
  proc_.SetTable("udp", {{53, 1001}});
  EXPECT_EQ(Pass(), (std::vector<Owner>{{53, true, 200, true, "beta", "/usr/bin/beta"}}));
}

std::uint16_t OpenLoopback(int type, std::vector<int>& fds) {
  const int fd = socket(AF_INET, type, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  if (type == SOCK_STREAM) {
    EXPECT_EQ(listen(fd, 1), 0);
  }
  socklen_t length = sizeof address;
  EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  fds.push_back(fd);
  return ntohs(address.sin_port);
}

TEST(ProcOwnerSourceOwnSockets, FindsThisProcessAsOwnerFromSockDiagAndFromProcNet) {
  std::vector<int> fds;
  const std::uint16_t tcpPort = OpenLoopback(SOCK_STREAM, fds);
  const std::uint16_t udpPort = OpenLoopback(SOCK_DGRAM, fds);
  const std::string path = fs::read_symlink("/proc/self/exe").string();
  for (const bool sockDiag : {true, false}) {
    SCOPED_TRACE(sockDiag ? "sock_diag" : "/proc/net");
    SystemClock clock;
    ProcOwnerSource source(clock, ProcOwnerSourceOptions{"/proc", sockDiag, 5000});
    std::vector<SocketOwner> owners;
    ASSERT_TRUE(source.ReadOwners(owners));
    for (const auto& [port, udp] : {std::pair{tcpPort, false}, std::pair{udpPort, true}}) {
      const auto owner = std::find_if(owners.begin(), owners.end(),
                                      [&](const SocketOwner& o) { return o.port == port && o.udp == udp; });
      ASSERT_NE(owner, owners.end()) << port << (udp ? "/udp" : "/tcp");
      EXPECT_EQ(std::tuple(owner->pid, owner->processFound, owner->path, owner->name),
                std::tuple(getpid(), true, path, fs::path(path).filename().string()));
    }
    const auto firstUdp = std::find_if(owners.begin(), owners.end(), [](const SocketOwner& o) { return o.udp; });
    EXPECT_TRUE(std::all_of(firstUdp, owners.end(), [](const SocketOwner& o) { return o.udp; }))
        << "TCP endpoints come before UDP ones";
  }
  for (const int fd : fds) close(fd);
}

}  // namespace
}  // namespace quorvel
