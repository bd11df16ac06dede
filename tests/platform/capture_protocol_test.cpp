#include "platform/capture_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace quorvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Body(const Bytes& frame) { return Bytes(frame.begin() + kFrameHeaderBytes, frame.end()); }

Bytes RequestBody(const CaptureRequest& request) {
  Bytes frame;
  AppendRequest(frame, request);
  return Body(frame);
}

Bytes Version(std::uint32_t version) {
  Bytes bytes(4);
  std::memcpy(bytes.data(), &version, 4);
  return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct RequestCase {
  std::string name;
  Bytes body;
  bool valid;
};

class RequestParserTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestParserTest, AcceptsOnlyWellFormedRequests) {
  EXPECT_EQ(ParseRequest(GetParam().body).has_value(), GetParam().valid);
}

const Bytes kLo = {'l', 'o'};

INSTANTIATE_TEST_SUITE_P(
    Bodies, RequestParserTest,
    ::testing::Values(
        RequestCase{"HelloCapture", Join({{1}, Version(1), {1}}), true},
        RequestCase{"HelloOwners", Join({{1}, Version(1), {2}}), true},
        RequestCase{"HelloOtherVersionIsAnsweredNotRefused", Join({{1}, Version(7), {1}}), true},
        RequestCase{"HelloRoleZero", Join({{1}, Version(1), {0}}), false},
        RequestCase{"HelloKernelEvents", Join({{1}, Version(1), {3}}), true},
        RequestCase{"HelloRoleFour", Join({{1}, Version(1), {4}}), false},
        RequestCase{"HelloShort", Join({{1}, Version(1)}), false},
        RequestCase{"HelloTrailingByte", Join({{1}, Version(1), {1, 0}}), false},
        RequestCase{"OpenLo", Join({{2, 2}, kLo}), true},
        RequestCase{"OpenFifteenBytes", Join({{2, 15}, Bytes(15, 'a')}), true},
        RequestCase{"OpenSixteenBytes", Join({{2, 16}, Bytes(16, 'a')}), false},
        RequestCase{"OpenEmptyName", {2, 0}, false},
        RequestCase{"OpenLengthBeyondBody", Join({{2, 5}, kLo}), false},
        RequestCase{"OpenLengthShortOfBody", Join({{2, 1}, kLo}), false},
        RequestCase{"OpenPath", Join({{2, 6}, {'.', '.', '/', 'e', 't', 'c'}}), false},
        RequestCase{"OpenBlank", Join({{2, 3}, {'l', ' ', 'o'}}), false},
        RequestCase{"OpenNul", Join({{2, 3}, {'l', 0, 'o'}}), false},
        RequestCase{"OpenHighByte", Join({{2, 3}, {'l', 0xC3, 'o'}}), false},
        RequestCase{"OpenLabel", Join({{2, 6}, {'e', 't', 'h', '0', ':', '1'}}), false},
        RequestCase{"PayloadHeaders", Join({{3, 0}, Version(0)}), true},
        RequestCase{"PayloadWhole", Join({{3, 1}, Version(0)}), true},
        RequestCase{"PayloadNames", Join({{3, 2}, Version(0x010012C6)}), true},
        RequestCase{"PayloadNamesWithoutAddress", Join({{3, 2}, Version(0)}), false},
        RequestCase{"PayloadWholeWithAddress", Join({{3, 1}, Version(1)}), false},
        RequestCase{"PayloadThree", Join({{3, 3}, Version(1)}), false},
        RequestCase{"PayloadOldForm", {3, 1}, false},
        RequestCase{"PayloadTrailingByte", Join({{3, 0}, Version(0), {0}}), false},
        RequestCase{"PayloadMissing", {3}, false},
        RequestCase{"Owners", {4}, true},
        RequestCase{"OwnersWithField", {4, 0}, false},
        RequestCase{"Stamp", {5}, true},
        RequestCase{"Stop", {6}, true},
        RequestCase{"StopWithField", {6, 6}, false},
        RequestCase{"FindOwnerTcp", {7, 0, 0x50, 0, 198, 18, 0, 1}, true},
        RequestCase{"FindOwnerUdpAnyAddress", {7, 1, 0x35, 0, 0, 0, 0, 0}, true},
        RequestCase{"FindOwnerProtocolTwo", {7, 2, 0x50, 0, 198, 18, 0, 1}, false},
        RequestCase{"FindOwnerPortZero", {7, 0, 0, 0, 198, 18, 0, 1}, false},
        RequestCase{"FindOwnerShort", {7, 0, 0x50, 0, 198, 18, 0}, false},
        RequestCase{"FindOwnerTrailingByte", {7, 0, 0x50, 0, 198, 18, 0, 1, 0}, false},
        RequestCase{"Empty", {}, false},
        RequestCase{"TypeZero", {0}, false},
        RequestCase{"ReplyTypeAsRequest", {0x81}, false},
        RequestCase{"TooLong", Join({{2, 2}, kLo, Bytes(40, 0)}), false}),
    [](const ::testing::TestParamInfo<RequestCase>& p) { return p.param.name; });

TEST(CaptureProtocol, RequestsSurviveTheirOwnEncoding) {
  const auto hello = ParseRequest(RequestBody(HelloRequest{kCaptureProtocolVersion, HelperRole::kOwners}));
  ASSERT_TRUE(hello);
  EXPECT_EQ(std::get<HelloRequest>(*hello).role, HelperRole::kOwners);
  const auto open = ParseRequest(RequestBody(OpenRequest{"veth-a1"}));
  ASSERT_TRUE(open);
  EXPECT_EQ(std::get<OpenRequest>(*open).interfaceName, "veth-a1");
  const PayloadNeed names{PayloadMode::kNames, 0xC6120001};
  const auto payload = ParseRequest(RequestBody(PayloadRequest{names}));
  ASSERT_TRUE(payload);
  EXPECT_EQ(std::get<PayloadRequest>(*payload).need, names);
  const FindOwnerRequest asked{true, 5353, 0x010012C6};
  const auto find = ParseRequest(RequestBody(asked));
  ASSERT_TRUE(find);
  EXPECT_EQ(std::get<FindOwnerRequest>(*find), asked);
}

TEST(CaptureProtocol, FoundOwnersEchoTheirLookupAndMalformedOnesAreRefused) {
  FoundOwnerReply sent;
  sent.asked = FindOwnerRequest{false, 40000, 0x010012C6};
  sent.found = true;
  sent.ownerEvents = 1234;
  sent.owner = SocketOwner{0, false, 4321, true, "curl", "/usr/bin/curl"};
  Bytes frame;
  AppendFoundOwner(frame, sent);
  const auto reply = ParseReply(Body(frame));
  ASSERT_TRUE(reply);
  const auto& found = std::get<FoundOwnerReply>(*reply);
  EXPECT_EQ(found.asked, sent.asked);
  EXPECT_TRUE(found.found);
  EXPECT_EQ(found.ownerEvents, 1234u);
  EXPECT_EQ(found.owner.port, 40000);
  EXPECT_EQ(found.owner.pid, 4321);
  EXPECT_EQ(found.owner.path, "/usr/bin/curl");

  const std::size_t flagsAt = 1 + 7;
  const std::size_t pidAt = flagsAt + 1 + 8;
  for (const auto& [what, at, byte] : {std::tuple{"flags", flagsAt, std::uint8_t{4}},
                                        std::tuple{"negative pid", pidAt + 3, std::uint8_t{0x80}},
                                        std::tuple{"port zero", std::size_t{2}, std::uint8_t{0}}}) {
    Bytes bad = Body(frame);
    bad[at] = byte;
    if (at == 2) bad[3] = 0;
    EXPECT_FALSE(ParseReply(bad)) << what;
  }
  Bytes cut = Body(frame);
  cut.pop_back();
  EXPECT_FALSE(ParseReply(cut));
}

TEST(CaptureProtocol, PacketRecordsCarryTimeLengthsAndBytes) {
  Bytes frame;
  const std::size_t start = BeginPackets(frame);
  const Bytes ipv6(60, 0x60);
  AppendPacketRecord(frame, 1'700'000'000'123'456, 1500, ipv6);
  AppendPacketRecord(frame, 7, 0, {});
  EndPackets(frame, start, CaptureCounters{10, 2, 3});
  const Bytes body = Body(frame);  // the reply points into it
  const auto reply = ParseReply(body);
  ASSERT_TRUE(reply);
  const auto& packets = std::get<PacketsReply>(*reply);
  EXPECT_EQ(packets.counters.kernelReceived, 10u);
  EXPECT_EQ(packets.counters.kernelDropped, 2u);
  EXPECT_EQ(packets.counters.helperDropped, 3u);
  std::vector<PacketRecord> records;
  ForEachPacketRecord(packets.records, [&](const PacketRecord& record) { records.push_back(record); });
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].arrivalMicroseconds, 1'700'000'000'123'456);
  EXPECT_EQ(records[0].received, 1500u);
  EXPECT_EQ(Bytes(records[0].bytes.begin(), records[0].bytes.end()), ipv6);
  EXPECT_TRUE(records[1].bytes.empty());

  // A record that claims more bytes than the frame holds, or than were received.
  Bytes cut = Body(frame);
  cut.pop_back();
  EXPECT_FALSE(ParseReply(cut));
  Bytes overclaimed = Body(frame);
  const std::uint32_t tooFew = 10;
  std::memcpy(overclaimed.data() + 1 + 24 + 8, &tooFew, 4);
  EXPECT_FALSE(ParseReply(overclaimed));
}

TEST(CaptureProtocol, OwnerListsComeInBoundedFramesAndMalformedOnesAreRefused) {
  std::vector<SocketOwner> owners;
  for (int i = 0; i < 10000; ++i) {
    owners.push_back(SocketOwner{static_cast<std::uint16_t>(i), i % 2 == 0, 100 + i, i % 3 != 0, "app",
                                 "/usr/lib/some/long/path/to/app-" + std::to_string(i)});
  }
  Bytes stream;
  AppendOwnerList(stream, owners, false);
  FrameReader reader(kMaxReplyBytes);
  const auto room = reader.Room(stream.size());
  std::memcpy(room.data(), stream.data(), stream.size());
  reader.Received(stream.size());
  std::vector<SocketOwner> read;
  int frames = 0;
  bool last = false;
  std::span<const std::uint8_t> body;
  while (reader.Take(body) == FrameReader::Next::kFrame) {
    ++frames;
    EXPECT_LE(body.size(), kReplyChunkBytes + 2 * kMaxOwnerText);
    auto reply = ParseReply(body);
    ASSERT_TRUE(reply);
    auto& list = std::get<OwnerListReply>(*reply);
    EXPECT_FALSE(last);
    last = list.last;
    read.insert(read.end(), list.owners.begin(), list.owners.end());
  }
  EXPECT_GT(frames, 1);
  EXPECT_TRUE(last);
  ASSERT_EQ(read.size(), owners.size());
  EXPECT_EQ(read[9999].path, owners[9999].path);
  EXPECT_EQ(read[9999].pid, owners[9999].pid);
  EXPECT_EQ(read[3].udp, false);
  EXPECT_EQ(read[3].processFound, false);

  Bytes one;
  AppendOwnerList(one, {owners[1]}, true);
  auto reply = ParseReply(Body(one));
  ASSERT_TRUE(reply);
  EXPECT_TRUE(std::get<OwnerListReply>(*reply).failed);
  Bytes badFlags = Body(one);
  badFlags[1] = 4;
  EXPECT_FALSE(ParseReply(badFlags));
  Bytes manyPromised = Body(one);
  const std::uint32_t many = 0xFFFFFFFF;
  std::memcpy(manyPromised.data() + 2, &many, 4);
  EXPECT_FALSE(ParseReply(manyPromised));
}

TEST(CaptureProtocol, FrameReaderWaitsForWholeFramesAndRefusesImpossibleLengths) {
  Bytes stream;
  AppendText(stream, MessageType::kCaptureFailed, "the capture on veth0 failed");
  AppendStamp(stream, StampReply{42});
  FrameReader reader(kMaxReplyBytes);
  std::span<const std::uint8_t> body;
  std::vector<std::string> seen;
  for (const std::uint8_t byte : stream) {  // one byte at a time, as a slow stream gives them
    reader.Room(1)[0] = byte;
    reader.Received(1);
    while (reader.Take(body) == FrameReader::Next::kFrame) {
      const auto reply = ParseReply(body);
      ASSERT_TRUE(reply);
      if (const auto* failed = std::get_if<CaptureFailedReply>(&*reply)) seen.push_back(failed->error);
      if (const auto* stamp = std::get_if<StampReply>(&*reply)) seen.push_back(std::to_string(*stamp->stamp));
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"the capture on veth0 failed", "42"}));

  for (const std::uint32_t length : {0u, static_cast<std::uint32_t>(kMaxReplyBytes + 1)}) {
    FrameReader bad(kMaxReplyBytes);
    std::memcpy(bad.Room(4).data(), &length, 4);
    bad.Received(4);
    EXPECT_EQ(bad.Take(body), FrameReader::Next::kMalformed) << length;
  }
}

}  // namespace
}  // namespace quorvel
