#include "platform/linux/pcap_capture.h"

#include <pcap/pcap.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/linux/link_layer.h"

namespace quorvel {
namespace {

// Offline files are replayed in batches so that a caller's loop keeps
// control (run flag, statistics) during a long file.
constexpr int kOfflineBatch = 4096;

struct PcapCloser {
  void operator()(pcap_t* pcap) const { pcap_close(pcap); }
};
using PcapHandle = std::unique_ptr<pcap_t, PcapCloser>;

// Live captures run libpcap in non-blocking mode and wait in their own poll:
// libpcap's read timeout does not end a read on Linux while no packet comes,
// and the poll also watches an eventfd that Interrupt() writes to.
class PcapPacketSource final : public PacketSource {
 public:
  PcapPacketSource(PcapHandle pcap, std::string name, int wakeFd, int pollTimeoutMilliseconds,
                   ReplayClock* replayClock = nullptr)
      : pcap_(std::move(pcap)),
        linkType_(pcap_datalink(pcap_.get())),
        name_(std::move(name)),
        offline_(wakeFd < 0),
        wakeFd_(wakeFd),
        pollTimeoutMilliseconds_(pollTimeoutMilliseconds),
        replayClock_(replayClock) {}

  ~PcapPacketSource() override {
    if (wakeFd_ >= 0) close(wakeFd_);
  }

  Next Dispatch(PacketSink& sink, std::string& error) override {
    const bool failedBefore = std::exchange(lastWaitFailed_, false);
    Batch batch{this, &sink, 0};
    if (!Read(batch, error)) return Next::kError;
    if (batch.frames > 0) return Next::kPackets;
    if (offline_) return interrupted_ ? Next::kTimeout : Next::kEnd;

    pollfd waits[2] = {{pcap_get_selectable_fd(pcap_.get()), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = poll(waits, 2, pollTimeoutMilliseconds_);
    if (ready < 0 && errno != EINTR) {
      error = std::string("poll failed: ") + std::strerror(errno);
      return Next::kError;
    }
    if (waits[1].revents & POLLIN) {
      std::uint64_t count;
      while (read(wakeFd_, &count, sizeof count) > 0) {
      }
      return Next::kTimeout;
    }
    if (ready <= 0 || waits[0].revents == 0) return Next::kTimeout;
    if (!Read(batch, error)) return Next::kError;
    if (batch.frames > 0) return Next::kPackets;
    // The interface going down raises one error, which libpcap's read has
    // just taken: the socket captures again once the interface is up, and a
    // vanished interface fails libpcap's next read. An error that stays
    // would only spin.
    lastWaitFailed_ = (waits[0].revents & POLLERR) != 0;
    if ((lastWaitFailed_ && failedBefore) || (waits[0].revents & (POLLHUP | POLLNVAL))) {
      error = "the capture on " + name_ + " failed";
      return Next::kError;
    }
    return Next::kTimeout;
  }

  // Thread-safe: pcap_breakloop ends a batch in progress, the eventfd wakes
  // the poll.
  void Interrupt() override {
    pcap_breakloop(pcap_.get());
    if (wakeFd_ >= 0) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
    }
  }

  CaptureStats Stats() const override {
    if (offline_) return CaptureStats{framesRead_.load(), 0};
    std::lock_guard lock(statsMutex_);
    pcap_stat stats{};
    if (pcap_stats(pcap_.get(), &stats) != 0) return CaptureStats{framesRead_.load(), 0};
    return CaptureStats{stats.ps_recv, stats.ps_drop};
  }

  std::string Name() const override { return name_; }

 private:
  struct Batch {
    PcapPacketSource* source;
    PacketSink* sink;
    std::uint64_t frames;
  };

  // Hands what libpcap has ready to the sink without blocking.
  bool Read(Batch& batch, std::string& error) {
    const std::uint64_t before = batch.frames;
    const int result = pcap_dispatch(pcap_.get(), offline_ ? kOfflineBatch : -1, &OnFrame,
                                     reinterpret_cast<u_char*>(&batch));
    framesRead_ += batch.frames - before;
    interrupted_ = result == PCAP_ERROR_BREAK;
    if (result != PCAP_ERROR) return true;
    error = pcap_geterr(pcap_.get());
    return false;
  }

  static void OnFrame(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    auto& batch = *reinterpret_cast<Batch*>(user);
    ++batch.frames;
    const std::int64_t stamp = std::int64_t{header->ts.tv_sec} * 1'000'000 + header->ts.tv_usec;
    ReplayClock* clock = batch.source->replayClock_;
    if (clock) clock->SetPacketTime(stamp);
    // A file replayed without its own clock goes by the engine's clock.
    const std::int64_t arrival = batch.source->offline_ && !clock ? 0 : stamp;
    const auto packet = StripLinkLayer(batch.source->linkType_, bytes, header->caplen);
    if (packet) batch.sink->OnTimedPacket(arrival, packet->data(), packet->size());
  }

  PcapHandle pcap_;
  const int linkType_;
  const std::string name_;
  const bool offline_;
  const int wakeFd_;  // eventfd of a live capture; -1 offline
  const int pollTimeoutMilliseconds_;
  ReplayClock* const replayClock_;
  bool interrupted_ = false;  // the last read was ended by pcap_breakloop
  bool lastWaitFailed_ = false;  // the last Dispatch ended on a socket error
  std::atomic<std::uint64_t> framesRead_{0};
  mutable std::mutex statsMutex_;  // pcap_stats keeps running sums in the handle
};

OpenedCapture Failed(std::string error) { return OpenedCapture{nullptr, std::move(error), false}; }

std::string UnsupportedLinkType(int linkType) {
  const char* name = pcap_datalink_val_to_name(linkType);
  return "link type " + (name ? std::string(name) : std::to_string(linkType)) + " is not supported";
}

std::string ActivationError(pcap_t* pcap, int status) {
  const std::string detail = pcap_geterr(pcap);
  return detail.empty() ? pcap_statustostr(status) : detail;
}

// Switches the capture to a link type StripLinkLayer understands, if it offers one.
bool ChooseLinkType(pcap_t* pcap) {
  if (IsSupportedLinkType(pcap_datalink(pcap))) return true;
  int* types = nullptr;
  const int count = pcap_list_datalinks(pcap, &types);
  bool chosen = false;
  for (int i = 0; i < count && !chosen; ++i) {
    chosen = IsSupportedLinkType(types[i]) && pcap_set_datalink(pcap, types[i]) == 0;
  }
  if (types) pcap_free_datalinks(types);
  return chosen;
}

struct Activation {
  PcapHandle pcap;
  int status = 0;
  std::string error;
};

Activation Activate(const std::string& device, const LiveCaptureOptions& options, bool promiscuous) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  Activation result{PcapHandle(pcap_create(device.c_str(), errbuf)), 0, {}};
  if (!result.pcap) {
    result.status = PCAP_ERROR;
    result.error = errbuf;
    return result;
  }
  pcap_t* pcap = result.pcap.get();
  pcap_set_snaplen(pcap, options.snapLength);
  pcap_set_promisc(pcap, promiscuous ? 1 : 0);
  pcap_set_immediate_mode(pcap, options.immediate ? 1 : 0);
  pcap_set_buffer_size(pcap, options.bufferBytes);
  pcap_set_timeout(pcap, options.blockTimeoutMilliseconds);
  result.status = pcap_activate(pcap);
  if (result.status < 0) {
    result.error = ActivationError(pcap, result.status);
    result.pcap.reset();
  }
  return result;
}

}  // namespace

OpenedCapture OpenLiveCaptureOn(const std::string& device, const LiveCaptureOptions& options,
                                const std::string& label) {
  const std::string prefix = "Can't capture on " + (label.empty() ? device : label) + ": ";
  Activation activation = Activate(device, options, options.promiscuous);
  bool promiscuousFailed = activation.status == PCAP_WARNING_PROMISC_NOTSUP;
  if (activation.status == PCAP_ERROR_PROMISC_PERM_DENIED) {
    // Capture without it, as the raw-socket original does when receive-all fails.
    activation = Activate(device, options, false);
    promiscuousFailed = true;
  }
  if (!activation.pcap) return Failed(prefix + activation.error);
  if (!ChooseLinkType(activation.pcap.get())) {
    return Failed(prefix + UnsupportedLinkType(pcap_datalink(activation.pcap.get())));
  }
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  if (pcap_setnonblock(activation.pcap.get(), 1, errbuf) != 0) return Failed(prefix + errbuf);
  if (pcap_get_selectable_fd(activation.pcap.get()) < 0) return Failed(prefix + "no descriptor to wait on");
  const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd < 0) return Failed(prefix + std::strerror(errno));
  return OpenedCapture{std::make_unique<PcapPacketSource>(std::move(activation.pcap), device, wakeFd,
                                                          options.pollTimeoutMilliseconds),
                       {}, promiscuousFailed};
}

OpenedCapture OpenCaptureFile(const std::string& path, ReplayClock* replayClock) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  PcapHandle pcap(pcap_open_offline(path.c_str(), errbuf));
  const std::string prefix = "Can't read the capture file " + path + ": ";
  if (!pcap) return Failed(prefix + errbuf);
  const int linkType = pcap_datalink(pcap.get());
  if (!IsSupportedLinkType(linkType)) return Failed(prefix + UnsupportedLinkType(linkType));
  return OpenedCapture{std::make_unique<PcapPacketSource>(std::move(pcap), path, -1, 0, replayClock), {}, false};
}

OpenedCapture OfflinePacketSourceFactory::Open(Ipv4Address) { return OpenCaptureFile(path_, replayClock_); }

}  // namespace quorvel
