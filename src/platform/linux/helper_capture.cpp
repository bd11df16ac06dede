#include "platform/linux/helper_capture.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/linux/helper_process.h"
#include "platform/linux/ifaddrs_interface_lister.h"

namespace quorvel {
namespace {

constexpr int kOpenMilliseconds = 10000;
constexpr int kPollMilliseconds = 100;
constexpr std::uint64_t kNeededRights = (std::uint64_t{1} << 12) | (std::uint64_t{1} << 13);

class HelperPacketSource final : public PacketSource {
 public:
  HelperPacketSource(std::unique_ptr<HelperProcess> helper, std::string name, int wakeFd)
      : helper_(std::move(helper)), name_(std::move(name)), wakeFd_(wakeFd) {}
  ~HelperPacketSource() override { close(wakeFd_); }

  Next Dispatch(PacketSink& sink, std::string& error) override {
    const PayloadNeed need = sink.WantedPayload();
    if (need != payload_) {
      payload_ = need;
      helper_->Send(PayloadRequest{need});
    }
    std::size_t delivered = 0;
    if (!Deliver(sink, error, delivered)) return Next::kError;
    if (delivered > 0) return Next::kPackets;

    pollfd waits[2] = {{helper_->Socket(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (poll(waits, 2, kPollMilliseconds) < 0 && errno != EINTR) {
      error = std::string("poll failed: ") + std::strerror(errno);
      return Next::kError;
    }
    if (waits[1].revents & POLLIN) {
      std::uint64_t count;
      while (read(wakeFd_, &count, sizeof count) > 0) {
      }
      return Next::kTimeout;
    }
    if (waits[0].revents == 0) return Next::kTimeout;
    if (helper_->ReadAvailable() == HelperProcess::Read::kEnded) {
      error = "quorvel-capture " + helper_->EndText();
      return Next::kError;
    }
    if (!Deliver(sink, error, delivered)) return Next::kError;
    return delivered > 0 ? Next::kPackets : Next::kTimeout;
  }

  void Interrupt() override {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
  }

  CaptureStats Stats() const override { return stats_; }
  std::string Name() const override { return name_; }

 private:
  // Hands the records of every whole frame read so far to the sink.
  bool Deliver(PacketSink& sink, std::string& error, std::size_t& delivered) {
    for (;;) {
      bool malformed = false;
      const auto reply = helper_->TakeReply(malformed);
      if (malformed) {
        error = "quorvel-capture sent a malformed message";
        return false;
      }
      if (!reply) return true;
      if (const auto* failed = std::get_if<CaptureFailedReply>(&*reply)) {
        error = failed->error;
        return false;
      }
      const auto* packets = std::get_if<PacketsReply>(&*reply);
      if (packets == nullptr) {
        error = "quorvel-capture sent an unexpected message";
        return false;
      }
      stats_ = CaptureStats{packets->counters.kernelReceived, packets->counters.kernelDropped,
                            packets->counters.helperDropped};
      ForEachPacketRecord(packets->records, [&](const PacketRecord& record) {
        ++delivered;
        sink.OnTimedPacket(record.arrivalMicroseconds, record.bytes.data(), record.bytes.size());
      });
    }
  }

  std::unique_ptr<HelperProcess> helper_;
  const std::string name_;
  const int wakeFd_;
  PayloadNeed payload_{PayloadMode::kHeaders, 0};  // what the helper was last asked for: it starts so
  CaptureStats stats_;
};

OpenedCapture Failed(std::string error) { return OpenedCapture{nullptr, std::move(error), false}; }

}  // namespace

OpenedCapture HelperPacketSourceFactory::Open(Ipv4Address interfaceAddress) {
  const std::string addressText = Ipv4ToText(interfaceAddress);
  const auto device = InterfaceHoldingAddress(interfaceAddress);
  if (!device) return Failed("No network interface holds the address " + addressText);
  StartedHelper started = HelperProcess::Start(helperPath_, HelperRole::kCapture);
  if (!started.helper) return Failed(started.error);
  HelperProcess& helper = *started.helper;
  if (const std::uint64_t missing = helper.MissingRights() & kNeededRights) {
    return Failed("Quorvel cannot capture: the capture helper " + helperPath_ + " lacks the rights " +
                  RightNames(missing) + ". Run sudo scripts/run.sh, which grants them.");
  }
  const std::string prefix = "Can't capture on " + *device + " (" + addressText + "): ";
  std::string error;
  if (!helper.Send(OpenRequest{*device})) return Failed(prefix + "quorvel-capture " + helper.EndText());
  const auto reply = helper.Receive(kOpenMilliseconds, error);
  if (!reply) return Failed(prefix + "quorvel-capture " + error);
  if (const auto* refused = std::get_if<OpenFailedReply>(&*reply)) return Failed(refused->error);
  const auto* opened = std::get_if<OpenedReply>(&*reply);
  if (opened == nullptr) return Failed(prefix + "quorvel-capture sent an unexpected message");
  const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd < 0) return Failed(prefix + std::strerror(errno));
  return OpenedCapture{std::make_unique<HelperPacketSource>(std::move(started.helper), *device, wakeFd), {},
                       opened->promiscuousFailed};
}

}  // namespace quorvel
