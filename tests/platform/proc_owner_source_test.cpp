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
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_platform.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

// A /proc look-alike: socket tables under net/ and per-process fd links, exe
// links and comm files.
class FakeProc {
 public:
  FakeProc() : root_(fs::path(::testing::TempDir()) / ("quorvel_proc_" + std::to_string(getpid()) + "_" +
                                                       std::to_string(counter_++))) {
    fs::remove_all(root_);
    fs::create_directories(root_ / "net");
  }
  ~FakeProc() { fs::remove_all(root_); }

  std::string Root() const { return root_.string(); }

  struct Row {
    std::uint16_t port;
    std::uint64_t inode;
  };
  // Writes one table; tables never written do not exist.
  void SetTable(const std::string& name, const std::vector<Row>& rows) {
    std::ofstream file(root_ / "net" / name, std::ios::trunc);
    file << "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
    int slot = 0;
    for (const Row& row : rows) {
      char port[8];
      std::snprintf(port, sizeof port, "%04X", row.port);
      file << "   " << slot++ << ": 0100007F:" << port
           << " 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 " << row.inode
           << " 1 0000000000000000 100 0 0 10 0\n";
    }
  }
  void RemoveTable(const std::string& name) { fs::remove(root_ / "net" / name); }

  void AddProcess(int pid, std::optional<std::string> exe, std::optional<std::string> comm) {
    const fs::path dir = root_ / std::to_string(pid);
    fs::create_directories(dir / "fd");
    if (exe) fs::create_symlink(*exe, dir / "exe");
    if (comm) std::ofstream(dir / "comm") << *comm;
  }
  void SetExe(int pid, const std::string& exe) {
    fs::remove(root_ / std::to_string(pid) / "exe");
    fs::create_symlink(exe, root_ / std::to_string(pid) / "exe");
  }
  void AddFd(int pid, int fd, const std::string& target) {
    fs::create_symlink(target, root_ / std::to_string(pid) / "fd" / std::to_string(fd));
  }
  void AddSocket(int pid, int fd, std::uint64_t inode) { AddFd(pid, fd, "socket:[" + std::to_string(inode) + "]"); }
  void RemoveFd(int pid, int fd) { fs::remove(root_ / std::to_string(pid) / "fd" / std::to_string(fd)); }
  void RemoveProcess(int pid) { fs::remove_all(root_ / std::to_string(pid)); }

 private:
  static inline int counter_ = 0;
  fs::path root_;
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
  ProcOwnerSourceTest()
      : source_(clock_, ProcOwnerSourceOptions{proc_.Root(), false, 5000}) {}

  std::vector<Owner> Pass(bool expectOk = true) {
    std::vector<SocketOwner> owners;
    EXPECT_EQ(source_.ReadOwners(owners), expectOk);
    std::vector<Owner> result;
    for (const SocketOwner& o : owners) result.push_back({o.port, o.udp, o.pid, o.processFound, o.name, o.path});
    return result;
  }

  FakeProc proc_;
  testing::FakeClock clock_;
  ProcOwnerSource source_;
};

TEST_F(ProcOwnerSourceTest, JoinsTablesWithProcessesInTableOrder) {
  proc_.AddProcess(100, "/usr/bin/alpha", "alpha\n");
  proc_.AddProcess(200, "/opt/beta/beta (deleted)", "beta\n");
  proc_.AddProcess(300, std::nullopt, "gamma\n");  // exe unreadable: other user's process
  proc_.AddSocket(100, 3, 1001);
  proc_.AddFd(100, 4, "/var/log/alpha.log");
  proc_.AddFd(100, 5, "pipe:[1002]");
  proc_.AddSocket(200, 7, 2001);
  proc_.AddSocket(200, 8, 2002);
  proc_.AddSocket(300, 0, 3001);
  proc_.SetTable("tcp", {{80, 1001}, {81, 0}, {82, 9999}, {443, 2001}});
  proc_.SetTable("tcp6", {{22, 3001}});
  proc_.SetTable("udp", {{53, 2002}});
  proc_.SetTable("udp6", {{5353, 1001}});

  const std::vector<Owner> expected = {
      {80, false, 100, true, "alpha", "/usr/bin/alpha"},
      {443, false, 200, true, "beta", "/opt/beta/beta"},
      {22, false, 300, true, "gamma", ""},
      {53, true, 200, true, "beta", "/opt/beta/beta"},
      {5353, true, 100, true, "alpha", "/usr/bin/alpha"},
  };
  EXPECT_EQ(Pass(), expected);
  EXPECT_EQ(Pass(), expected) << "the cached pass gives the same answer";
  EXPECT_EQ(source_.FdWalks(), 1u);
}

TEST_F(ProcOwnerSourceTest, ReportsThePidWhenTheProcessCannotBeNamed) {
  proc_.AddProcess(400, std::nullopt, std::nullopt);
  proc_.AddSocket(400, 3, 4001);
  proc_.SetTable("udp", {{123, 4001}});
  EXPECT_EQ(Pass(), (std::vector<Owner>{{123, true, 400, false, "", ""}}));
}

TEST_F(ProcOwnerSourceTest, FailsOnlyWhenNoTableCanBeRead) {
  EXPECT_TRUE(Pass(false).empty());
  proc_.AddProcess(100, "/usr/bin/alpha", "alpha\n");
  proc_.AddSocket(100, 3, 1001);
  proc_.SetTable("udp6", {{9, 1001}});
  EXPECT_EQ(Pass(), (std::vector<Owner>{{9, true, 100, true, "alpha", "/usr/bin/alpha"}}));
  proc_.RemoveTable("udp6");
  EXPECT_TRUE(Pass(false).empty());
}

TEST_F(ProcOwnerSourceTest, WalksOnlyForNewInodes) {
  proc_.AddProcess(100, "/usr/bin/alpha", "alpha\n");
  proc_.AddSocket(100, 3, 1001);
  proc_.SetTable("tcp", {{80, 1001}});
  Pass();
  Pass();
  EXPECT_EQ(source_.FdWalks(), 1u);

  proc_.AddSocket(100, 4, 1002);
  proc_.SetTable("tcp", {{80, 1001}, {81, 1002}});
  EXPECT_EQ(Pass().size(), 2u);
  EXPECT_EQ(source_.FdWalks(), 2u);
  Pass();
  EXPECT_EQ(source_.FdWalks(), 2u);
}

TEST_F(ProcOwnerSourceTest, RetriesUnresolvedInodesOnlyEveryFewSeconds) {
  proc_.AddProcess(100, "/usr/bin/alpha", "alpha\n");
  proc_.SetTable("tcp", {{80, 1001}});
  EXPECT_TRUE(Pass().empty());
  EXPECT_EQ(source_.FdWalks(), 1u);
  proc_.AddSocket(100, 3, 1001);  // now visible, but not looked for yet
  clock_.Advance(4999);
  EXPECT_TRUE(Pass().empty());
  EXPECT_EQ(source_.FdWalks(), 1u);
  clock_.Advance(1);
  EXPECT_EQ(Pass(), (std::vector<Owner>{{80, false, 100, true, "alpha", "/usr/bin/alpha"}}));
  EXPECT_EQ(source_.FdWalks(), 2u);
}

TEST_F(ProcOwnerSourceTest, ForgetsInodesThatDisappeared) {
  proc_.AddProcess(100, "/usr/bin/alpha", "alpha\n");
  proc_.AddProcess(200, "/usr/bin/beta", "beta\n");
  proc_.AddSocket(100, 3, 1001);
  proc_.SetTable("udp", {{53, 1001}});
  EXPECT_EQ(Pass().at(0).pid, 100);
  proc_.SetTable("udp", {});
  EXPECT_TRUE(Pass().empty());
  // The same inode number again, now held elsewhere: it must be looked up afresh.
  proc_.RemoveFd(100, 3);
  proc_.AddSocket(200, 3, 1001);
  proc_.SetTable("udp", {{53, 1001}});
  EXPECT_EQ(Pass(), (std::vector<Owner>{{53, true, 200, true, "beta", "/usr/bin/beta"}}));
}

TEST_F(ProcOwnerSourceTest, FollowsASocketWhenItsProcessExits) {
  proc_.AddProcess(100, "/usr/bin/launcher", "launcher\n");
  proc_.AddSocket(100, 3, 1001);
  proc_.SetTable("tcp", {{8080, 1001}});
  EXPECT_EQ(Pass().at(0).pid, 100);
  proc_.RemoveProcess(100);
  proc_.AddProcess(101, "/usr/bin/server", "server\n");
  proc_.AddSocket(101, 3, 1001);
  EXPECT_EQ(Pass(), (std::vector<Owner>{{8080, false, 101, true, "server", "/usr/bin/server"}}));
}

TEST_F(ProcOwnerSourceTest, NoticesAnExec) {
  proc_.AddProcess(100, "/bin/sh", "sh\n");
  proc_.AddSocket(100, 3, 1001);
  proc_.SetTable("tcp", {{8080, 1001}});
  EXPECT_EQ(Pass().at(0).name, "sh");
  proc_.SetExe(100, "/usr/sbin/daemon");
  EXPECT_EQ(Pass(), (std::vector<Owner>{{8080, false, 100, true, "daemon", "/usr/sbin/daemon"}}));
  EXPECT_EQ(source_.FdWalks(), 1u);
}

// The real tables and this process's own sockets.
class OwnSockets : public ::testing::TestWithParam<bool> {};

std::uint16_t OpenLoopback(int type, std::vector<int>& fds) {
  const int fd = socket(AF_INET, type, 0);
  EXPECT_GE(fd, 0);
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

TEST_P(OwnSockets, FindsThisProcessAsOwner) {
  std::vector<int> fds;
  const std::uint16_t tcpPort = OpenLoopback(SOCK_STREAM, fds);
  const std::uint16_t udpPort = OpenLoopback(SOCK_DGRAM, fds);
  const std::string path = fs::read_symlink("/proc/self/exe").string();

  SystemClock clock;
  ProcOwnerSource source(clock, ProcOwnerSourceOptions{"/proc", GetParam(), 5000});
  std::vector<SocketOwner> owners;
  ASSERT_TRUE(source.ReadOwners(owners));
  const auto find = [&](std::uint16_t port, bool udp) -> const SocketOwner* {
    const auto it = std::find_if(owners.begin(), owners.end(),
                                 [&](const SocketOwner& o) { return o.port == port && o.udp == udp; });
    return it == owners.end() ? nullptr : &*it;
  };
  for (const auto& [port, udp] : {std::pair{tcpPort, false}, std::pair{udpPort, true}}) {
    const SocketOwner* owner = find(port, udp);
    ASSERT_NE(owner, nullptr) << port << (udp ? "/udp" : "/tcp");
    EXPECT_EQ(owner->pid, getpid());
    EXPECT_TRUE(owner->processFound);
    EXPECT_EQ(owner->path, path);
    EXPECT_EQ(owner->name, fs::path(path).filename().string());
  }
  const auto firstUdp = std::find_if(owners.begin(), owners.end(), [](const SocketOwner& o) { return o.udp; });
  EXPECT_TRUE(std::all_of(firstUdp, owners.end(), [](const SocketOwner& o) { return o.udp; }))
      << "TCP endpoints come before UDP ones";
  for (const int fd : fds) close(fd);
}

INSTANTIATE_TEST_SUITE_P(TableSources, OwnSockets, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "SockDiag" : "ProcNet";
                         });

}  // namespace
}  // namespace quorvel
