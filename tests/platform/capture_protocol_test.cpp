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

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A 32-bit field as the protocol carries it: in host order.
Bytes U32(std::uint32_t value) {
  Bytes bytes(4);
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

template <class Request>
Request RoundTrip(const Request& request) {
  Bytes frame;
  AppendRequest(frame, request);
  const auto parsed = ParseRequest(Body(frame));
  return parsed && std::holds_alternative<Request>(*parsed) ? std::get<Request>(*parsed) : Request{};
}

TEST(CaptureProtocol, AcceptsOnlyWellFormedRequests) {
  const Bytes lo = {'l', 'o'};
  const std::tuple<const char*, Bytes, bool> cases[] = {
      {"hello capture", Join({{1}, U32(1), {1}}), true},
      {"hello owners", Join({{1}, U32(1), {2}}), true},
      {"hello of another version is answered, not refused", Join({{1}, U32(7), {1}}), true},
      {"hello kernel events", Join({{1}, U32(1), {3}}), true},
      {"hello role 0", Join({{1}, U32(1), {0}}), false},
      {"hello role 4", Join({{1}, U32(1), {4}}), false},
      {"hello short", Join({{1}, U32(1)}), false},
      {"hello trailing byte", Join({{1}, U32(1), {1, 0}}), false},
      {"open lo", Join({{2, 2}, lo}), true},
      {"open 15 bytes", Join({{2, 15}, Bytes(15, 'a')}), true},
      {"open 16 bytes", Join({{2, 16}, Bytes(16, 'a')}), false},
      {"open empty name", {2, 0}, false},
      {"open length beyond body", Join({{2, 5}, lo}), false},
      {"open length short of body", Join({{2, 1}, lo}), false},
      {"open path", Join({{2, 6}, {'.', '.', '/', 'e', 't', 'c'}}), false},
      {"open blank", Join({{2, 3}, {'l', ' ', 'o'}}), false},
      {"open NUL", Join({{2, 3}, {'l', 0, 'o'}}), false},
      {"open high byte", Join({{2, 3}, {'l', 0xC3, 'o'}}), false},
      {"open label", Join({{2, 6}, {'e', 't', 'h', '0', ':', '1'}}), false},
      {"payload headers", Join({{3, 0}, U32(0)}), true},
      {"payload whole", Join({{3, 1}, U32(0)}), true},
      {"payload names", Join({{3, 2}, U32(0x010012C6)}), true},
      {"payload names without address", Join({{3, 2}, U32(0)}), false},
      {"payload whole with address", Join({{3, 1}, U32(1)}), false},
      {"payload mode 3", Join({{3, 3}, U32(1)}), false},
      {"payload old form", {3, 1}, false},
      {"payload trailing byte", Join({{3, 0}, U32(0), {0}}), false},
      {"payload missing", {3}, false},
      {"owners", {4}, true},
      {"owners with a field", {4, 0}, false},
      {"stamp", {5}, true},
      {"stop", {6}, true},
      {"stop with a field", {6, 6}, false},
      {"find owner TCP", {7, 0, 0x50, 0, 198, 18, 0, 1}, true},
      {"find owner UDP any address", {7, 1, 0x35, 0, 0, 0, 0, 0}, true},
      {"find owner protocol 2", {7, 2, 0x50, 0, 198, 18, 0, 1}, false},
      {"find owner port 0", {7, 0, 0, 0, 198, 18, 0, 1}, false},
      {"find owner short", {7, 0, 0x50, 0, 198, 18, 0}, false},
      {"find owner trailing byte", {7, 0, 0x50, 0, 198, 18, 0, 1, 0}, false},
      {"empty", {}, false},
      {"type 0", {0}, false},
      {"a reply type", {0x81}, false},
      {"too long", Join({{2, 2}, lo, Bytes(40, 0)}), false},
  };
  for (const auto& [name, body, valid] : cases) EXPECT_EQ(ParseRequest(body).has_value(), valid) << name;

  // Requests survive their own encoding.
  const PayloadNeed names{PayloadMode::kNames, 0xC6120001};
  const FindOwnerRequest asked{true, 5353, 0x010012C6};
  EXPECT_EQ(RoundTrip(HelloRequest{kCaptureProtocolVersion, HelperRole::kOwners}).role, HelperRole::kOwners);
  EXPECT_EQ(RoundTrip(OpenRequest{"veth-a1"}).interfaceName, "veth-a1");
  EXPECT_EQ(RoundTrip(PayloadRequest{names}).need, names);
  EXPECT_EQ(RoundTrip(asked), asked);
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
  EXPECT_EQ(std::tuple(found.owner.port, found.owner.pid, found.owner.path), std::tuple(40000, 4321, "/usr/bin/curl"));

  const std::size_t flagsAt = 1 + 7, pidAt = flagsAt + 1 + 8;
  for (const auto& [what, at, byte] : {std::tuple{"flags", flagsAt, std::uint8_t{4}},
                                        std::tuple{"negative pid", pidAt + 3, std::uint8_t{0x80}},
                                        std::tuple{"port zero", std::size_t{2}, std::uint8_t{0}}}) {
    Bytes bad = Body(frame);
    bad[at] = byte;
    if (at == 2) bad[3] = 0;
    EXPECT_FALSE(ParseReply(bad)) << what;
  }
  EXPECT_FALSE(ParseReply(Bytes(frame.begin() + kFrameHeaderBytes, frame.end() - 1))) << "cut";
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
  EXPECT_EQ(std::tuple(packets.counters.kernelReceived, packets.counters.kernelDropped, packets.counters.helperDropped),
            std::tuple(10u, 2u, 3u));
  std::vector<PacketRecord> records;
  ForEachPacketRecord(packets.records, [&](const PacketRecord& record) { records.push_back(record); });
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].arrivalMicroseconds, 1'700'000'000'123'456);
  EXPECT_EQ(records[0].received, 1500u);
  EXPECT_EQ(Bytes(records[0].bytes.begin(), records[0].bytes.end()), ipv6);
  EXPECT_TRUE(records[1].bytes.empty());

  // A record that claims more bytes than the frame holds, or than were received.
  EXPECT_FALSE(ParseReply(Bytes(body.begin(), body.end() - 1)));
  Bytes overclaimed = body;
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
  std::memcpy(reader.Room(stream.size()).data(), stream.data(), stream.size());
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
  EXPECT_EQ(std::tuple(read[9999].path, read[9999].pid), std::tuple(owners[9999].path, owners[9999].pid));
  EXPECT_FALSE(read[3].udp || read[3].processFound);

  Bytes one;
  AppendOwnerList(one, {owners[1]}, true);
  auto reply = ParseReply(Body(one));
  ASSERT_TRUE(reply);
  EXPECT_TRUE(std::get<OwnerListReply>(*reply).failed);
  Bytes badFlags = Body(one);
  badFlags[1] = 4;
  EXPECT_FALSE(ParseReply(badFlags));
  Bytes manyPromised = Body(one);
  std::memcpy(manyPromised.data() + 2, U32(0xFFFFFFFF).data(), 4);
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
