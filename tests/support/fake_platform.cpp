#include "support/fake_platform.h"

#include <thread>

namespace quorvel::testing {

void FakeClock::Sleep(std::int64_t milliseconds, const RunFlag* interrupt) {
  if (interrupt && !interrupt->IsSet()) return;
  if (milliseconds > 0) {
    millis_ += milliseconds;
    slept_ += milliseconds;
  }
  // Let other threads run, as a real sleep would, without spinning a core.
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void FakePacketSource::Push(std::vector<std::uint8_t> packet) {
  std::lock_guard lock(mutex_);
  pending_.push_back(std::move(packet));
}

void FakePacketSource::Finish() {
  std::lock_guard lock(mutex_);
  finished_ = true;
}

void FakePacketSource::Fail(std::string error) {
  std::lock_guard lock(mutex_);
  failure_ = std::move(error);
}

PacketSource::Next FakePacketSource::Dispatch(PacketSink& sink, std::string& error) {
  std::deque<std::vector<std::uint8_t>> batch;
  bool finished;
  {
    std::lock_guard lock(mutex_);
    if (!failure_.empty()) {
      error.swap(failure_);
      failure_.clear();
      return Next::kError;
    }
    batch.swap(pending_);
    finished = finished_;
  }
  for (const auto& packet : batch) {
    sink.OnPacket(packet.data(), packet.size());
    ++delivered_;
  }
  if (!batch.empty()) return Next::kPackets;
  if (finished) return Next::kEnd;
  interrupted_ = false;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return Next::kTimeout;
}

CaptureStats FakePacketSource::Stats() const {
  return CaptureStats{delivered_.load(), 0};
}

class FakePacketSourceFactory::Handle final : public PacketSource {
 public:
  explicit Handle(std::shared_ptr<FakePacketSource> source) : source_(std::move(source)) {}
  Next Dispatch(PacketSink& sink, std::string& error) override { return source_->Dispatch(sink, error); }
  void Interrupt() override { source_->Interrupt(); }
  CaptureStats Stats() const override { return source_->Stats(); }
  std::string Name() const override { return source_->Name(); }

 private:
  std::shared_ptr<FakePacketSource> source_;
};

FakePacketSource& FakePacketSourceFactory::SourceFor(Ipv4Address address) {
  std::lock_guard lock(mutex_);
  auto& source = sources_[address];
  if (!source) source = std::make_shared<FakePacketSource>("fake-" + Ipv4ToText(address));
  return *source;
}

OpenedCapture FakePacketSourceFactory::Open(Ipv4Address interfaceAddress) {
  std::lock_guard lock(mutex_);
  opened_.push_back(interfaceAddress);
  const auto it = sources_.find(interfaceAddress);
  if (it == sources_.end()) {
    return OpenedCapture{nullptr, "No interface holds " + Ipv4ToText(interfaceAddress), false};
  }
  return OpenedCapture{std::make_unique<Handle>(it->second), {}, refusePromiscuous_};
}

std::vector<Ipv4Address> FakePacketSourceFactory::Opened() const {
  std::lock_guard lock(mutex_);
  return opened_;
}

void FakeOwnerSource::SetOwners(std::vector<SocketOwner> owners) {
  std::lock_guard lock(mutex_);
  owners_ = std::move(owners);
}

void FakeOwnerSource::Hold(bool hold) {
  {
    std::lock_guard lock(mutex_);
    held_ = hold;
  }
  released_.notify_all();
}

void FakeOwnerSource::SetStamp(std::optional<std::uint64_t> stamp) {
  std::lock_guard lock(mutex_);
  stamp_ = stamp;
}

std::optional<std::uint64_t> FakeOwnerSource::TablesStamp() {
  std::lock_guard lock(mutex_);
  return stamp_;
}

bool FakeOwnerSource::ReadOwners(std::vector<SocketOwner>& owners) {
  std::unique_lock lock(mutex_);
  released_.wait(lock, [this] { return !held_; });
  ++passes_;
  if (fail_) return false;
  owners = owners_;
  return true;
}

void FakeNameResolver::SetHostName(std::string name) {
  std::lock_guard lock(mutex_);
  hostName_ = std::move(name);
}

void FakeNameResolver::SetForward(const std::string& host, std::vector<Ipv4Address> addresses) {
  std::lock_guard lock(mutex_);
  forward_[host] = std::move(addresses);
}

void FakeNameResolver::SetReverse(Ipv4Address address, std::string name) {
  std::lock_guard lock(mutex_);
  reverse_[address] = std::move(name);
}

std::string FakeNameResolver::HostName() {
  std::lock_guard lock(mutex_);
  return hostName_;
}

std::vector<Ipv4Address> FakeNameResolver::ResolveIpv4(const std::string& host) {
  std::lock_guard lock(mutex_);
  const auto it = forward_.find(host);
  return it == forward_.end() ? std::vector<Ipv4Address>{} : it->second;
}

std::optional<std::string> FakeNameResolver::ReverseLookup(Ipv4Address address) {
  ++reverseLookups_;
  std::lock_guard lock(mutex_);
  const auto it = reverse_.find(address);
  if (it == reverse_.end()) return std::nullopt;
  return it->second;
}

}  // namespace quorvel::testing
