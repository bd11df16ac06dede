#include "persistence/settings_file.h"

#include <gtest/gtest.h>

#include "common/ipv4.h"
#include "engine/engine_state.h"
#include "persistence/scratch_directory.h"

namespace quorvel {
namespace {

using testing::EntryNames;
using testing::GoldenFile;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

const std::uint32_t kMask24 = MakeIpv4(255, 255, 255, 0);

auto Fields(const Settings& s) {
  return std::tuple(s.bHideLanFlows, s.bFreezeGraph, s.bUseProxy, s.strProxyHost, s.strProxyPort, s.nInterfaceMask);
}

Settings Loaded(const std::filesystem::path& file) {
  Settings settings;
  LoadSettings(settings, file);
  return settings;
}

TEST(SettingsFileTest, WritesTheGoldenFileAndPlaceholdersIntoTheFileAndTheCallersCopy) {
  struct Case {
    Settings settings;
    std::string line;
    std::string host, port;  // in the caller's copy afterwards
  };
  const Case cases[] = {
      {{0, 1, 1, "192.168.0.10", "3128", kMask24}, ReadBytes(GoldenFile(__FILE__, "set.dat")), "192.168.0.10", "3128"},
      {{}, "0 0 0 ? ? 4294967295\r\n", "?", "?"},
      {{0, 0, 0, "", "", kMask24}, "0 0 0 ? ? 16777215\r\n", "?", "?"},
      // Proxy off, host typed, port empty: the host is lost too.
      {{0, 0, 0, "proxy.lan", "", 0xFFFFFFFF}, "0 0 0 ? ? 4294967295\r\n", "?", "?"},
      {{1, 0, 1, "", "8080", 0}, "1 0 1 ? 8080 0\r\n", "?", "8080"},
      {{0, 0, 1, "10.0.0.1", "8080", MakeIpv4(255, 0, 0, 0)}, "0 0 1 10.0.0.1 8080 255\r\n", "10.0.0.1", "8080"},
  };
  for (const Case& c : cases) {
    ScratchDirectory dir;
    Settings settings = c.settings;
    ASSERT_TRUE(SaveSettings(settings, dir / "set.dat").ok);
    EXPECT_EQ(ReadBytes(dir / "set.dat"), c.line);
    EXPECT_EQ(settings.strProxyHost, c.host) << c.line;
    EXPECT_EQ(settings.strProxyPort, c.port) << c.line;
  }
  EXPECT_EQ(Fields(Loaded(GoldenFile(__FILE__, "set.dat"))), Fields(cases[0].settings));
}

TEST(SettingsFileTest, RoundTripsThroughTheFileAsLatin1) {
  const Settings cases[] = {
      {1, 1, 1, "proxy.example", "3128", 0},
      {0, 0, 1, "h\xC3\xB4te", "80", MakeIpv4(255, 255, 0, 0)},
      {0, 0, 0, "host", "?", 0xFFFFFFFF},  // a "?" port stays
      {-5, 7, 2147483647, "x", "99999999", 1},
  };
  for (const Settings& original : cases) {
    ScratchDirectory dir;
    Settings saved = original;
    ASSERT_TRUE(SaveSettings(saved, dir / "set.dat").ok);
    EXPECT_EQ(Fields(Loaded(dir / "set.dat")), Fields(original));
  }
  ScratchDirectory dir;
  WriteBytes(dir / "set.dat", "0 0 1 h\xF4te 80 4294967295\r\n");
  EXPECT_EQ(Loaded(dir / "set.dat").strProxyHost, "h\xC3\xB4te") << "file bytes are Latin-1";
}

TEST(SettingsFileTest, ReadsFieldsUpToTheFirstThatDoesNotMatch) {
  const Settings before{0, 0, 1, "keep.host", "1", 77};
  const std::pair<std::string, Settings> cases[] = {
      {"", before},
      {"\r\n", before},
      {"garbage", before},
      {"1", {1, 0, 1, "keep.host", "1", 77}},
      {"1 1", {1, 1, 1, "keep.host", "1", 77}},
      {"1 0 0 host", {1, 0, 0, "host", "1", 77}},
      {"1 0 0 host 81", {1, 0, 0, "host", "81", 77}},
      {"1 0 0 host 81 x", {1, 0, 0, "host", "81", 77}},
      {"1 x 0 host 81 5", {1, 0, 1, "keep.host", "1", 77}},
      {"1 0 0 host 81 5\r\nsecond line ignored", {1, 0, 0, "host", "81", 5}},
      {"1\t0\t0\thost\t81\t5\n", {1, 0, 0, "host", "81", 5}},
      // As "%d %d": the blank in the format matches no blank too.
      {"1 0 0host 81 5", {1, 0, 0, "host", "81", 5}},
      {"0 0 0 ? 3128 5", {0, 0, 0, "", "", 5}},
      {"0 0 0 ? ? 5", {0, 0, 0, "", "", 5}},
      {"0 0 0 host ? 5", {0, 0, 0, "host", "?", 5}},
      {"0 0 0 h p -1", {0, 0, 0, "h", "p", 0xFFFFFFFF}},
      {"0 0 0 h p 99999999999", {0, 0, 0, "h", "p", 0xFFFFFFFF}},
      {"99999999999 -99999999999 +1 h p +2", {2147483647, -2147483647 - 1, 1, "h", "p", 2}},
      {"- 0 0 h p 1", before},
      // Texts are cut at 255 and 49 characters, the line at 519.
      {"0 0 1 " + std::string(300, 'h') + " " + std::string(60, '1') + " 5\r\n",
       {0, 0, 1, std::string(255, 'h'), std::string(49, '1'), 5}},
      {"0 0 1 h " + std::string(520, '9') + "\r\n", {0, 0, 1, "h", std::string(49, '9'), 77}},
      {"0 0 1 " + std::string(530, 'h') + " 80 5", {0, 0, 1, std::string(255, 'h'), "1", 77}},
  };
  for (const auto& [bytes, expected] : cases) {
    Settings settings = before;
    ReadSettingsText(bytes, settings);
    EXPECT_EQ(Fields(settings), Fields(expected)) << bytes;
  }
}

TEST(SettingsFileTest, BadFilesGiveDefaultsOrTheReadablePart) {
  ScratchDirectory dir;
  EXPECT_EQ(Fields(Loaded(dir / "set.dat")), Fields(Settings{})) << "missing";
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 37 + 11) % 256);
  WriteBytes(dir / "set.dat", binary);
  EXPECT_EQ(Loaded(dir / "set.dat").nInterfaceMask, 0xFFFFFFFFu);
  WriteBytes(dir / "set.dat", "1 1 1 big 8 9\r\n" + std::string(20 << 20, 'x'));
  EXPECT_EQ(Fields(Loaded(dir / "set.dat")), Fields(Settings{1, 1, 1, "big", "8", 9})) << "only the first line";
  std::filesystem::remove(dir / "set.dat");
  std::filesystem::create_directory(dir / "set.dat");
  EXPECT_EQ(Fields(Loaded(dir / "set.dat")), Fields(Settings{})) << "a directory";
}

TEST(SettingsFileTest, RefusesTextsTheFileCannotHoldAndWritesNothing) {
  const std::string latin1 = ", but only characters up to U+00FF can be stored";
  const std::string blank = " contains a blank, a tab or a line break";
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"\xCE\xA9.example", "80",
       "Can't save the proxy server host: the text \"\xCE\xA9.example\" contains \"\xCE\xA9\" (U+03A9)" + latin1},
      {"proxy", "8\xE2\x82\xAC",
       "Can't save the proxy server port: the text \"8\xE2\x82\xAC\" contains \"\xE2\x82\xAC\" (U+20AC)" + latin1},
      {"my proxy", "80", "Can't save the proxy server host: the text \"my proxy\"" + blank},
      {"proxy", "80\r\n1", "Can't save the proxy server port: the text \"80\r\n1\"" + blank},
  };
  for (const auto& [host, port, message] : cases) {
    ScratchDirectory dir;
    WriteBytes(dir / "set.dat", "1 1 1 old 1 1\r\n");
    Settings settings{0, 0, 1, host, port, 0};
    EXPECT_EQ(SaveSettings(settings, dir / "set.dat").error, message);
    EXPECT_EQ(settings.strProxyHost, host) << "the copy stays as it was";
    EXPECT_EQ(ReadBytes(dir / "set.dat"), "1 1 1 old 1 1\r\n");
    EXPECT_EQ(EntryNames(dir.path()), std::vector<std::string>{"set.dat"});
  }
  // Proxy off with an empty port: the unstorable host is not written at all.
  ScratchDirectory dir;
  Settings off{0, 0, 0, "\xCE\xA9", "", 0};
  EXPECT_TRUE(SaveSettings(off, dir / "set.dat").ok);
  EXPECT_EQ(ReadBytes(dir / "set.dat"), "0 0 0 ? ? 0\r\n");
  // An unwritable file is reported with its path; the values still go on to the engine.
  Settings settings;
  const auto below = dir / "set.dat" / "set.dat";
  EXPECT_EQ(SaveSettings(settings, below).error, "Can't write to " + below.string());
  EXPECT_EQ(settings.strProxyHost, "?");
}

TEST(SettingsFileTest, AppliesTheValuesToTheEngineWithThePortsLeadingNumber) {
  const std::pair<std::string, std::uint16_t> ports[] = {
      {"8080", 8080}, {"3128abc", 3128}, {"0080", 80}, {"65535", 65535}, {"65536", 0}, {"99999999999999999999", 0},
      {"", 0},        {"?", 0},          {"abc", 0},   {" 80", 0},       {"-1", 0},    {"+80", 0},
  };
  for (const auto& [text, port] : ports) EXPECT_EQ(ProxyPortFromText(text), port) << text;

  EngineSettings engine;
  ApplySettings({1, 1, 1, "10.0.0.1", "8080", kMask24}, engine);
  EXPECT_TRUE(engine.hideLanFlows && engine.freezeGraph && engine.useProxy);
  EXPECT_EQ(engine.networkMask, kMask24);
  EXPECT_EQ(engine.ProxyServerText(), "10.0.0.1");
  EXPECT_EQ(engine.proxyAddress.Get(), IpAddress(MakeIpv4(10, 0, 0, 1)));
  EXPECT_EQ(engine.proxyPort, 8080);
  // A host name gives no address; a "?" port gives port 0; any value but 0 is on.
  ApplySettings({0, 0, 2, "proxy.example", "?", 0xFFFFFFFF}, engine);
  EXPECT_FALSE(engine.hideLanFlows);
  EXPECT_TRUE(engine.useProxy);
  EXPECT_EQ(engine.ProxyServerText(), "proxy.example");
  EXPECT_EQ(engine.proxyAddress.Get(), IpAddress());
  EXPECT_EQ(engine.proxyPort, 0);
}

}  // namespace
}  // namespace quorvel
