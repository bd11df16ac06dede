#include "capture/packet_stream.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace quorvel {
namespace {

std::int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::size_t PacketStream::Carried(std::int64_t arrivalMicroseconds, const std::uint8_t* data, std::size_t received) {
  const std::size_t headers = std::min(received, kHeaderBytes);
  switch (mode_.load(std::memory_order_relaxed)) {
    case PayloadMode::kWhole:
      return received;
    case PayloadMode::kNames:
      // Asked of short packets too: they may go on with a ClientHello.
      return names_.Wanted(localAddress_.load(std::memory_order_relaxed), arrivalMicroseconds, data, received)
                 ? received
                 : headers;
    case PayloadMode::kHeaders:
      break;
  }
  return headers;
}

void PacketStream::OnTimedPacket(std::int64_t arrivalMicroseconds, const std::uint8_t* data, std::size_t received) {
  const std::size_t carried = Carried(arrivalMicroseconds, data, received);
  const std::size_t needed = kPacketRecordHeaderBytes + carried + (frame_ ? 0 : kEmptyPacketsFrameBytes);
  if (unsent_.size() - sentBytes_ + needed > kMaxUnsentBytes) {
    ++counters_.helperDropped;
    return;
  }
  if (!frame_) frame_ = BeginPackets(unsent_);
  AppendPacketRecord(unsent_, arrivalMicroseconds, static_cast<std::uint32_t>(received),
                     std::span<const std::uint8_t>(data, carried));
  ++frameRecords_;
  if (unsent_.size() - *frame_ >= kReplyChunkBytes) {
    CloseFrame(false);
    Flush();
  }
}

void PacketStream::RefreshCounters() {
  const CaptureStats stats = source_.Stats();
  counters_.kernelReceived = stats.received;
  counters_.kernelDropped = stats.dropped;
}

void PacketStream::CloseFrame(bool evenIfEmpty) {
  if (!frame_ && !evenIfEmpty) return;
  if (!frame_) frame_ = BeginPackets(unsent_);
  // libpcap reads /proc/net/dev for the statistics of a promiscuous
  // capture: far too dear for every frame.
  const std::int64_t now = SteadyMilliseconds();
  if (now - countersRead_ >= kCountersPeriodMilliseconds) {
    RefreshCounters();
    countersRead_ = now;
  }
  EndPackets(unsent_, *frame_, counters_);
  frame_.reset();
  frameRecords_ = 0;
}

bool PacketStream::Flush() {
  // Only whole frames leave: an open frame is still being written.
  const std::size_t end = frame_ ? *frame_ : unsent_.size();
  while (sentBytes_ < end) {
    const ssize_t sent = send(socket_, unsent_.data() + sentBytes_, end - sentBytes_, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    sentBytes_ += static_cast<std::size_t>(sent);
  }
  if (sentBytes_ == unsent_.size()) {
    unsent_.clear();
    sentBytes_ = 0;
  } else if (sentBytes_ > kMaxUnsentBytes / 2) {
    unsent_.erase(unsent_.begin(), unsent_.begin() + static_cast<std::ptrdiff_t>(sentBytes_));
    if (frame_) *frame_ -= sentBytes_;
    sentBytes_ = 0;
  }
  return true;
}

void PacketStream::Run(const std::atomic<bool>& stop) {
  std::string error;
  while (!stop.load()) {
    const PacketSource::Next next = source_.Dispatch(*this, error);
    if (next == PacketSource::Next::kError || next == PacketSource::Next::kEnd) {
      CloseFrame(true);  // the last counters go out even with no record
      if (next == PacketSource::Next::kError) AppendText(unsent_, MessageType::kCaptureFailed, error);
      // The monitor ends this helper once it has read the reason.
      while (Flush() && sentBytes_ < unsent_.size() && !stop.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      return;
    }
    const bool countersDue = SteadyMilliseconds() - countersRead_ >= kCountersPeriodMilliseconds;
    if (frameRecords_ > 0 || (countersDue && unsent_.empty())) CloseFrame(true);
    if (!Flush()) return;
  }
}

}  // namespace quorvel
