#include "platform/linux/socket_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace quorvel {

void PrintTo(const SocketRow& row, std::ostream* out) {
  *out << "{port " << row.port << (row.udp ? " udp" : " tcp") << " inode " << row.inode << "}";
}

namespace {

TEST(ProcNetTableTest, ParsesRowsAndSkipsBrokenOnes) {
  const std::string heading =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
  // One row: its local address:port, then the fields up to and after the inode.
  const auto row = [](const std::string& local, const std::string& inode) {
    return "   0: " + local + " 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 " + inode +
           " 1 0000000000000000 100 0 0 10 0\n";
  };
  const struct {
    std::string text;
    bool udp;
    std::vector<SocketRow> rows;
  } cases[] = {
      {heading, false, {}},
      {heading + row("0100007F:1F90", "12345") + row("0200A8C0:C350", "0"),
       false,
       {{8080, false, 12345}, {50000, false, 0}}},
      {heading + row("00000000000000000000000000000000:0016", "4242"), false, {{22, false, 4242}}},
      // The last line of a UDP table without its newline.
      {heading + "  123: 3500007F:0035 00000000:0000 07 00000000:00000000 00:00000000 00000000   101        0 "
                 "18446744073709551615 2 0000000000000000 0",
       true,
       {{53, true, 18446744073709551615ull}}},
      {heading + row("0100007F:ZZZZ", "77") + row("0100007F", "78") + row("0100007F:10000", "79") +
           "   3: 0100007F:0050 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 0\n" +
           row("0100007F:0050", "8x") + "\ngarbage\n" + row("0100007F:0051", "80"),
       false,
       {{81, false, 80}}},
  };
  for (const auto& c : cases) {
    std::vector<SocketRow> rows = {SocketRow{1, false, 1}};  // rows are appended
    ParseProcNetTable(c.text, c.udp, rows);
    std::vector<SocketRow> expected = {SocketRow{1, false, 1}};
    expected.insert(expected.end(), c.rows.begin(), c.rows.end());
    EXPECT_EQ(rows, expected) << c.text;
  }
  std::vector<SocketRow> rows;
  std::string buffer;
  EXPECT_FALSE(ReadProcNetTable("/nonexistent/net/tcp", false, rows, buffer));
  EXPECT_TRUE(rows.empty());
}

TEST(SocketCountsStampTest, FollowsTheInUseCountsOnly) {
  const std::string sockstat6 = "TCP6: inuse 2\nUDP6: inuse 0\nUDPLITE6: inuse 0\nRAW6: inuse 0\n";
  const auto stamp = SocketCountsStamp(
      "sockets: used 8\nTCP: inuse 3 orphan 0 tw 4 alloc 5 mem 255\nUDP: inuse 1 mem 2\nUDPLITE: inuse 0\n"
      "RAW: inuse 0\nFRAG: inuse 0 memory 0\n" + sockstat6);
  ASSERT_TRUE(stamp);
  const std::pair<std::string, bool> cases[] = {
      {"sockets: used 9\nTCP: inuse 3 orphan 1 tw 0 alloc 9 mem 999\nUDP: inuse 1 mem 7\n" + sockstat6, true},
      {"TCP: inuse 4 orphan 0 tw 4 alloc 5 mem 255\nUDP: inuse 1 mem 2\n" + sockstat6, false},
      {"TCP: inuse 3\nUDP: inuse 2\n" + sockstat6, false},
      {"TCP: inuse 3\nUDP: inuse 1\nTCP6: inuse 2\nUDP6: inuse 1\n", false},
      // The same counts on other lines are other sockets.
      {"TCP: inuse 1\nUDP: inuse 3\nTCP6: inuse 2\nUDP6: inuse 0\n", false},
  };
  for (const auto& [text, same] : cases) EXPECT_EQ(SocketCountsStamp(text) == stamp, same) << text;
  for (const char* text : {"", "garbage\n", "TCP: inuse x\n", "TCP: used 3\n", "UDPLITE: inuse 3\n"}) {
    EXPECT_FALSE(SocketCountsStamp(text)) << text;
  }
}

TEST(SocketCountsStampTest, ChangesWhenThisProcessListens) {
  std::string buffer;
  const auto read = [&buffer] { return SocketCountsStamp(ReadProcFile("/proc/net/sockstat", buffer).value_or("")); };
  ASSERT_TRUE(read());
  // Other tests may open or close sockets meanwhile and even out the count once; not every time.
  bool changed = false;
  for (int attempt = 0; attempt < 5 && !changed; ++attempt) {
    const auto before = read();
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    changed = read() != before;
    close(listener);
  }
  EXPECT_TRUE(changed);
}

}  // namespace
}  // namespace quorvel
