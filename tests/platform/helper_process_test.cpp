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

TEST(QuorvelCapture, RefusesArgumentsAndADescriptorThatIsNotItsSocket) {
  EXPECT_EQ(ExitStatusOf(HelperPath() + " --interface lo 2>/dev/null"), 2);
  EXPECT_EQ(ExitStatusOf(HelperPath() + " 3</dev/null 2>/dev/null"), 2);
}

TEST(QuorvelCapture, AMissingOrForbiddenHelperIsNamedWithWhatToRun) {
  char folder[] = "/tmp/qv-helper-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string missing = std::string(folder) + "/quorvel-capture";
  EXPECT_EQ(HelperProcess::Start(missing, HelperRole::kCapture).error,
            "Quorvel cannot capture: the capture helper " + missing +
                " is missing. Run sudo scripts/run.sh, which builds and installs it.");
  std::ofstream(missing) << "#!/bin/sh\n";
  chmod(missing.c_str(), 0640);  // as installed for a group this user is not in
  const std::string error = HelperProcess::Start(missing, HelperRole::kCapture).error;
  EXPECT_EQ(error.rfind("Quorvel cannot capture: you may not run the capture helper " + missing +
                            ", which is for the group ",
                        0),
            0u)
      << error;
  EXPECT_NE(error.find("Run sudo scripts/run.sh to join the group"), std::string::npos) << error;
  unlink(missing.c_str());
  rmdir(folder);
}

struct MalformedCase {
  std::string name;
  HelperRole role;
  std::vector<std::uint8_t> frame;  // length and body, as sent
};

std::vector<std::uint8_t> Frame(std::vector<std::uint8_t> body) {
  const auto length = static_cast<std::uint32_t>(body.size());
  std::vector<std::uint8_t> frame(4);
  std::memcpy(frame.data(), &length, 4);
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

class MalformedRequestTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedRequestTest, EndsTheHelper) {
  StartedHelper started = HelperProcess::Start(HelperPath(), GetParam().role);
  ASSERT_TRUE(started.helper) << started.error;
  const auto& frame = GetParam().frame;
  ASSERT_EQ(send(started.helper->Socket(), frame.data(), frame.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(frame.size()));
  std::string error;
  EXPECT_FALSE(started.helper->Receive(5000, error));
  EXPECT_EQ(error, "ended unexpectedly (exit status 2)");
}

const HelperRole kOwners = HelperRole::kOwners;
const HelperRole kCapture = HelperRole::kCapture;

INSTANTIATE_TEST_SUITE_P(
    Requests, MalformedRequestTest,
    ::testing::Values(MalformedCase{"UnknownType", kOwners, Frame({0x7F})},
                      MalformedCase{"ZeroLength", kOwners, Frame({})},
                      MalformedCase{"LengthBeyondAnyRequest", kOwners, Frame(std::vector<std::uint8_t>(1000, 4))},
                      MalformedCase{"SecondHello", kOwners, Frame({1, 1, 0, 0, 0, 2})},
                      MalformedCase{"OpenAskedOfTheOwnerHelper", kOwners, Frame({2, 2, 'l', 'o'})},
                      MalformedCase{"OwnersAskedOfTheCaptureHelper", kCapture, Frame({4})},
                      MalformedCase{"FindOwnerAskedOfTheTablesHelper", kOwners, Frame({7, 0, 0x50, 0, 127, 0, 0, 1})},
                      MalformedCase{"FindOwnerAskedOfTheCaptureHelper", kCapture, Frame({7, 0, 0x50, 0, 127, 0, 0, 1})},
                      MalformedCase{"PayloadOutOfRange", kCapture, Frame({3, 3, 0, 0, 0, 0})},
                      MalformedCase{"InterfaceNameWithSlash", kCapture, Frame({2, 5, '.', '.', '/', 'l', 'o'})}),
    [](const ::testing::TestParamInfo<MalformedCase>& p) { return p.param.name; });

// A socket of this process on a loopback address, and its port.
std::pair<int, std::uint16_t> LoopbackSocket(int family, int type) {
  const int socketFd = socket(family, type, 0);
  sockaddr_storage address{};
  socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
  if (family == AF_INET) {
    reinterpret_cast<sockaddr_in*>(&address)->sin_family = AF_INET;
    reinterpret_cast<sockaddr_in*>(&address)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  } else {
    reinterpret_cast<sockaddr_in6*>(&address)->sin6_family = AF_INET6;
    reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr = in6addr_loopback;
  }
  if (socketFd < 0 || bind(socketFd, reinterpret_cast<sockaddr*>(&address), length) != 0) return {socketFd, 0};
  if (type == SOCK_STREAM) listen(socketFd, 1);
  getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length);
  const std::uint16_t port = family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                               : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port;
  return {socketFd, ntohs(port)};
}

TEST(QuorvelCapture, OwnerHelperNamesThisProcessAsTheOwnerOfItsSockets) {
  const struct {
    int family;
    int type;
  } cases[] = {{AF_INET, SOCK_STREAM}, {AF_INET6, SOCK_STREAM}, {AF_INET6, SOCK_DGRAM}};
  std::vector<std::pair<int, std::uint16_t>> sockets;
  for (const auto& c : cases) {
    sockets.push_back(LoopbackSocket(c.family, c.type));
    ASSERT_NE(sockets.back().second, 0) << "no loopback socket of family " << c.family;
  }

  HelperOwnerSource source(HelperPath(), false);
  std::vector<SocketOwner> owners;
  ASSERT_TRUE(source.ReadOwners(owners));
  char self[4096];
  const ssize_t selfLength = readlink("/proc/self/exe", self, sizeof self);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const bool udp = cases[i].type == SOCK_DGRAM;
    const auto found = std::find_if(owners.begin(), owners.end(), [&](const SocketOwner& owner) {
      return owner.port == sockets[i].second && owner.udp == udp;
    });
    ASSERT_NE(found, owners.end());
    EXPECT_EQ(found->pid, getpid());
    EXPECT_TRUE(found->processFound);
    EXPECT_EQ(found->name, "platform_tests");
    EXPECT_EQ(found->path, std::string(self, static_cast<std::size_t>(selfLength)));
  }
  EXPECT_TRUE(source.TablesStamp().has_value());
  for (const auto& [socketFd, port] : sockets) close(socketFd);
}

TEST(QuorvelCapture, KernelEventsHelperNamesTheOwnerOfASocketBoundAfterItStarted) {
  HelperOwnerSource source(HelperPath(), true);
  if (!source.TracksSockets()) GTEST_SKIP() << "no kernel events here: " << source.KernelEventsProblem();
  const std::uint64_t eventsBefore = source.OwnerEvents();
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const std::uint16_t port = ntohs(address.sin_port);

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
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos || text.find("(quorvel-capture)") == std::string::npos) continue;
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
    if (line.rfind(key, 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

class Collector final : public PacketSink {
 public:
  explicit Collector(std::uint16_t port) : port_(port) {}
  // UDP to the port, over IPv4 or IPv6 (no extension headers): its IP length.
  void OnPacket(const std::uint8_t* data, std::size_t carried) override {
    if (carried >= 28 && data[0] >> 4 == 4 && data[9] == 17 && ((data[22] << 8) | data[23]) == port_) {
      lengths.push_back((data[2] << 8) | data[3]);
    } else if (carried >= 48 && data[0] >> 4 == 6 && data[6] == 17 && ((data[42] << 8) | data[43]) == port_) {
      lengths.push_back(40 + ((data[4] << 8) | data[5]));
    } else {
      return;
    }
    carriedBytes.push_back(carried);
  }
  PayloadNeed WantedPayload() const override { return {whole ? PayloadMode::kWhole : PayloadMode::kHeaders, 0}; }
  bool whole = false;
  std::vector<std::size_t> lengths;
  std::vector<std::size_t> carriedBytes;

 private:
  std::uint16_t port_;
};

TEST(QuorvelCapture, CapturesWithoutRightsCutsHeadersOnRequestAndReportsItsDeath) {
  if (!MissingCaptureRights().empty()) GTEST_SKIP() << "this process may not capture, nor may a helper it starts";
  OpenedCapture opened = HelperPacketSourceFactory(HelperPath()).Open(htonl(INADDR_LOOPBACK));
  ASSERT_TRUE(opened.source) << opened.error;
  const std::vector<pid_t> helpers = HelperChildren();
  ASSERT_EQ(helpers.size(), 1u);
  EXPECT_EQ(StatusLine(helpers[0], "CapEff:"), "0000000000000000");
  EXPECT_EQ(StatusLine(helpers[0], "CapPrm:"), "0000000000000000");

  const int sender = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  target.sin_port = htons(59613);
  const std::string payload(1000, 'q');
  Collector sink(59613);
  std::string error;
  // IPv6 comes through the same way, cut 128 bytes from its IP header on.
  const auto [sender6, unused] = LoopbackSocket(AF_INET6, SOCK_DGRAM);
  sockaddr_in6 target6{};
  target6.sin6_family = AF_INET6;
  target6.sin6_addr = in6addr_loopback;
  target6.sin6_port = htons(59613);
  const std::size_t before6 = sink.lengths.size();
  sendto(sender6, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&target6), sizeof target6);
  const auto deadline6 = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (sink.lengths.size() == before6 && std::chrono::steady_clock::now() < deadline6) {
    ASSERT_NE(opened.source->Dispatch(sink, error), PacketSource::Next::kError) << error;
  }
  ASSERT_GT(sink.lengths.size(), before6);
  EXPECT_EQ(sink.lengths.back(), 1048u);
  EXPECT_EQ(sink.carriedBytes.back(), 128u);
  close(sender6);
  // Headers only from the start; whole packets once the helper has read the
  // wish, which it does beside its capture: datagrams go until one shows it.
  for (const bool whole : {false, true}) {
    sink.whole = whole;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
      const std::size_t before = sink.lengths.size();
      sendto(sender, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof target);
      while (sink.lengths.size() == before && std::chrono::steady_clock::now() < deadline) {
        ASSERT_NE(opened.source->Dispatch(sink, error), PacketSource::Next::kError) << error;
      }
      ASSERT_GT(sink.lengths.size(), before) << (whole ? "whole" : "headers only");
    } while (whole && sink.carriedBytes.back() != 1028u && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(sink.lengths.back(), 1028u);
    EXPECT_EQ(sink.carriedBytes.back(), whole ? 1028u : 128u);
  }
  close(sender);


  kill(helpers[0], SIGKILL);
  PacketSource::Next next = PacketSource::Next::kTimeout;
  for (int i = 0; i < 50 && next != PacketSource::Next::kError; ++i) next = opened.source->Dispatch(sink, error);
  EXPECT_EQ(next, PacketSource::Next::kError);
  EXPECT_EQ(error, "quorvel-capture ended unexpectedly (killed by signal 9)");
}

}  // namespace
}  // namespace quorvel
