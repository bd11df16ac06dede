// quorvel-capture as the programs start it: refusals, owner tables and, where
// this process may capture (root in CI), loopback capture and a killed helper.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "persistence/scratch_directory.h"
#include "platform/linux/capabilities.h"
#include "platform/linux/helper_capture.h"
#include "platform/linux/helper_owner_source.h"
#include "platform/linux/helper_process.h"

namespace quorvel {
namespace {

// The test program lives in tests/, the helper one folder up.
std::string HelperPath() {
  const std::string beside = HelperPathBesideProgram();
  const std::string folder = beside.substr(0, beside.rfind('/'));
  return folder.substr(0, folder.rfind('/') + 1) + "quorvel-capture";
}

int ExitStatusOf(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(QuorvelCapture, RefusesArgumentsForeignDescriptorsAndMalformedRequests) {
  EXPECT_EQ(ExitStatusOf(HelperPath() + " --interface lo 2>/dev/null"), 2);
  EXPECT_EQ(ExitStatusOf(HelperPath() + " 3</dev/null 2>/dev/null"), 2) << "a descriptor that is not its socket";
  using Body = std::vector<std::uint8_t>;
  const HelperRole owners = HelperRole::kOwners, capture = HelperRole::kCapture;
  const std::tuple<const char*, HelperRole, Body> cases[] = {
      {"unknown type", owners, {0x7F}},
      {"zero length", owners, {}},
      {"length beyond any request", owners, Body(1000, 4)},
      {"second hello", owners, {1, 1, 0, 0, 0, 2}},
      {"open asked of the owner helper", owners, {2, 2, 'l', 'o'}},
      {"owners asked of the capture helper", capture, {4}},
      {"find owner asked of the tables helper", owners, {7, 0, 0x50, 0, 127, 0, 0, 1}},
      {"find owner asked of the capture helper", capture, {7, 0, 0x50, 0, 127, 0, 0, 1}},
      {"payload out of range", capture, {3, 3, 0, 0, 0, 0}},
      {"interface name with a slash", capture, {2, 5, '.', '.', '/', 'l', 'o'}},
  };
  for (const auto& [name, role, body] : cases) {
    SCOPED_TRACE(name);
    StartedHelper started = HelperProcess::Start(HelperPath(), role);
    ASSERT_TRUE(started.helper) << started.error;
    const auto length = static_cast<std::uint32_t>(body.size());
    std::vector<std::uint8_t> frame(4);
    std::memcpy(frame.data(), &length, 4);
    frame.insert(frame.end(), body.begin(), body.end());
    ASSERT_EQ(send(started.helper->Socket(), frame.data(), frame.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(frame.size()));
    std::string error;
    EXPECT_FALSE(started.helper->Receive(5000, error));
    EXPECT_EQ(error, "ended unexpectedly (exit status 2)");
  }
}

TEST(QuorvelCapture, AMissingOrForbiddenHelperIsNamedWithWhatToRun) {
  testing::ScratchDirectory folder;
  const std::string missing = (folder / "quorvel-capture").string();
  EXPECT_EQ(HelperProcess::Start(missing, HelperRole::kCapture).error,
            "Quorvel cannot capture: the capture helper " + missing +
                " is missing. Run sudo scripts/run.sh, which builds and installs it.");
  testing::WriteBytes(missing, "#!/bin/sh\n");
  chmod(missing.c_str(), 0640);  // as installed for a group this user is not in
  const std::string error = HelperProcess::Start(missing, HelperRole::kCapture).error;
  EXPECT_TRUE(error.starts_with("Quorvel cannot capture: you may not run the capture helper " + missing +
                                ", which is for the group "))
      << error;
  EXPECT_NE(error.find("Run sudo scripts/run.sh to join the group"), std::string::npos) << error;
}

// A socket of this process on a loopback address, and its port.
std::pair<int, std::uint16_t> LoopbackSocket(int family, int type) {
  const int socketFd = socket(family, type, 0);
  sockaddr_in6 address{};  // big enough for either family
  socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  if (family == AF_INET) {
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  } else {
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
  }
  if (socketFd < 0 || bind(socketFd, reinterpret_cast<sockaddr*>(&address), length) != 0) return {socketFd, 0};
  if (type == SOCK_STREAM) listen(socketFd, 1);
  getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length);
  return {socketFd, ntohs(family == AF_INET ? v4->sin_port : address.sin6_port)};
}

TEST(QuorvelCapture, OwnerHelperNamesThisProcessAsTheOwnerOfItsSockets) {
  const std::pair<int, int> kinds[] = {{AF_INET, SOCK_STREAM}, {AF_INET6, SOCK_STREAM}, {AF_INET6, SOCK_DGRAM}};
  std::vector<std::pair<int, std::uint16_t>> sockets;
  for (const auto& [family, type] : kinds) {
    sockets.push_back(LoopbackSocket(family, type));
    ASSERT_NE(sockets.back().second, 0) << "no loopback socket of family " << family;
  }
  HelperOwnerSource source(HelperPath(), false);
  std::vector<SocketOwner> owners;
  ASSERT_TRUE(source.ReadOwners(owners));
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  for (std::size_t i = 0; i < std::size(kinds); ++i) {
    SCOPED_TRACE(i);
    const bool udp = kinds[i].second == SOCK_DGRAM;
    const auto found = std::find_if(owners.begin(), owners.end(), [&](const SocketOwner& owner) {
      return owner.port == sockets[i].second && owner.udp == udp;
    });
    ASSERT_NE(found, owners.end());
    EXPECT_EQ(std::tuple(found->pid, found->processFound, found->name, found->path),
              std::tuple(getpid(), true, "platform_tests", self));
  }
  EXPECT_TRUE(source.TablesStamp().has_value());
  for (const auto& [socketFd, port] : sockets) close(socketFd);
}

TEST(QuorvelCapture, KernelEventsHelperNamesTheOwnerOfASocketBoundAfterItStarted) {
  HelperOwnerSource source(HelperPath(), true);
  if (!source.TracksSockets()) GTEST_SKIP() << "no kernel events here: " << source.KernelEventsProblem();
  const std::uint64_t eventsBefore = source.OwnerEvents();
  const auto [listener, port] = LoopbackSocket(AF_INET, SOCK_STREAM);
  ASSERT_NE(port, 0);
  SocketOwner owner;
  bool found = false;
  // A lookup the loaded machine left unanswered within its bound falls back; the next one is answered.
  for (int attempt = 0; attempt < 20 && !found; ++attempt) {
    found = source.FindOwner(false, port, htonl(INADDR_LOOPBACK), owner) == OwnerLookup::kFound;
  }
  ASSERT_TRUE(found) << source.KernelEventsProblem();
  EXPECT_EQ(owner.pid, getpid());
  EXPECT_EQ(owner.port, port);
  EXPECT_NE(source.FindOwner(true, port, htonl(INADDR_LOOPBACK), owner), OwnerLookup::kFound);  // no UDP socket there
  EXPECT_GT(source.OwnerEvents(), eventsBefore);
  EXPECT_TRUE(source.KernelEventsProblem().empty());
  close(listener);
}

// Children of this process that run the helper.
std::vector<pid_t> HelperChildren() {
  std::vector<pid_t> children;
  DIR* proc = opendir("/proc");
  while (const dirent* entry = readdir(proc)) {
    const pid_t pid = std::atoi(entry->d_name);
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (pid <= 0 || close == std::string::npos || text.find("(quorvel-capture)") == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 2));
    char state;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == getpid()) children.push_back(pid);
  }
  closedir(proc);
  return children;
}

std::string StatusLine(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(key)) return line.substr(key.size() + 1);
  }
  return {};
}

// UDP to the port, over IPv4 or IPv6 (no extension headers): its IP length and the bytes carried.
class Collector final : public PacketSink {
 public:
  void OnPacket(const std::uint8_t* data, std::size_t carried) override {
    if (carried >= 28 && data[0] >> 4 == 4 && data[9] == 17 && ((data[22] << 8) | data[23]) == kPort) {
      lengths.push_back((data[2] << 8) | data[3]);
    } else if (carried >= 48 && data[0] >> 4 == 6 && data[6] == 17 && ((data[42] << 8) | data[43]) == kPort) {
      lengths.push_back(40 + ((data[4] << 8) | data[5]));
    } else {
      return;
    }
    carriedBytes.push_back(carried);
  }
  PayloadNeed WantedPayload() const override { return {whole ? PayloadMode::kWhole : PayloadMode::kHeaders, 0}; }
  static constexpr std::uint16_t kPort = 59613;
  bool whole = false;
  std::vector<std::size_t> lengths, carriedBytes;
};

TEST(QuorvelCapture, AnAddressNoInterfaceHoldsIsNamed) {
  const OpenedCapture opened = HelperPacketSourceFactory(HelperPath()).Open(MakeIpv4(198, 18, 255, 254));
  EXPECT_FALSE(opened.source);
  EXPECT_EQ(opened.error, "No network interface holds the address 198.18.255.254");
}

TEST(QuorvelCapture, CapturesWithoutRightsCutsHeadersOnRequestAndReportsItsDeath) {
  if (!MissingCaptureRights().empty()) GTEST_SKIP() << "this process may not capture, nor may a helper it starts";
  OpenedCapture opened = HelperPacketSourceFactory(HelperPath()).Open(htonl(INADDR_LOOPBACK));
  ASSERT_TRUE(opened.source) << opened.error;
  const std::vector<pid_t> helpers = HelperChildren();
  ASSERT_EQ(helpers.size(), 1u);
  EXPECT_EQ(StatusLine(helpers[0], "CapEff:"), "0000000000000000");
  EXPECT_EQ(StatusLine(helpers[0], "CapPrm:"), "0000000000000000");

  Collector sink;
  std::string error;
  const std::string payload(1000, 'q');
  // Sends one datagram after another until one arrives as `carried` bytes of an IP packet of `length`.
  const auto exchange = [&](int family, std::size_t length, std::size_t carried) {
    const int sender = socket(family, SOCK_DGRAM, 0);
    sockaddr_in6 address{};  // family and port sit at the same places in both families
    address.sin6_family = static_cast<sa_family_t>(family);
    address.sin6_port = htons(Collector::kPort);
    if (family == AF_INET6) address.sin6_addr = in6addr_loopback;
    if (family == AF_INET) reinterpret_cast<sockaddr_in*>(&address)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const socklen_t size = family == AF_INET ? sizeof(sockaddr_in) : sizeof address;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
      const std::size_t before = sink.lengths.size();
      sendto(sender, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&address), size);
      while (sink.lengths.size() == before && std::chrono::steady_clock::now() < deadline) {
        ASSERT_NE(opened.source->Dispatch(sink, error), PacketSource::Next::kError) << error;
      }
      ASSERT_GT(sink.lengths.size(), before);
    } while (sink.carriedBytes.back() != carried && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(sink.lengths.back(), length);
    EXPECT_EQ(sink.carriedBytes.back(), carried);
    close(sender);
  };
  // Headers only from the start, IPv6 cut 128 bytes from its IP header on like IPv4; whole packets
  // once the helper has read the wish, which it does beside its capture.
  exchange(AF_INET6, 1048, 128);
  exchange(AF_INET, 1028, 128);
  sink.whole = true;
  exchange(AF_INET, 1028, 1028);

  kill(helpers[0], SIGKILL);
  PacketSource::Next next = PacketSource::Next::kTimeout;
  for (int i = 0; i < 50 && next != PacketSource::Next::kError; ++i) next = opened.source->Dispatch(sink, error);
  EXPECT_EQ(next, PacketSource::Next::kError);
  EXPECT_EQ(error, "quorvel-capture ended unexpectedly (killed by signal 9)");
}

}  // namespace
}  // namespace quorvel
