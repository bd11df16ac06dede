#include "spy/spy_session.h"

#include <utility>

namespace quorvel {

SpySession::SpySession(SpyFeedRegistry& registry, SpyTarget target, std::size_t maxPendingCaptureBytes,
                       std::size_t maxRecordedBytes)
    : registry_(registry),
      target_(std::move(target)),
      matcher_(target_),
      handover_(maxPendingCaptureBytes),
      writer_([this](std::size_t bytes) { handover_.ReleaseCaptureBytes(bytes); }),
      spare_(std::make_unique<SpyBatch>()),
      recorder_(maxRecordedBytes) {}

SpySession::~SpySession() { Close(); }

void SpySession::Open() {
  if (registered_ || closed_) return;
  registry_.Register(this);
  registered_ = true;
}

void SpySession::Close() {
  if (closed_) return;
  closed_ = true;
  if (registered_) registry_.Unregister();
  registered_ = false;
  Process(false);
  writer_.Finish();
  fileOpen_ = false;
  CollectWriterError();
}

void SpySession::OnSpyPacket(const SpyPacket& packet) {
  if (packet.data == nullptr) return;
  if (!matcher_.Matches(packet.localSource, packet.remoteAddress, packet.remotePort)) return;
  const std::uint32_t recordedLength = packet.packetStart != nullptr ? packet.length : 0;
  handover_.Push(SpyDataBytes(packet), SpyPacketBytes(packet), recordedLength, packet.arrivalMicroseconds);
}

bool SpySession::Drain() { return Process(true); }

bool SpySession::Process(bool show) {
  CollectWriterError();
  if (spare_ && spare_->capture.capacity() == 0) spare_->capture = writer_.TakeSpareBuffer();
  std::unique_ptr<SpyBatch> batch = handover_.Take(std::move(spare_), CapturingWanted());
  const bool changed = show && list_.Apply(*batch);
  recorder_.Add(batch->recorded);
  recorder_.CountLost(batch->droppedRecordedPackets);
  Write(*batch);
  spare_ = std::move(batch);
  return changed;
}

void SpySession::Write(SpyBatch& batch) {
  droppedCapturePackets_ += batch.droppedCapturePackets;
  if (batch.capture.empty()) return;
  if (fileOpen_) {
    writer_.Write(std::move(batch.capture));
    batch.capture = std::string();
  } else {
    // Taken after a write error or while the file changed to none.
    handover_.ReleaseCaptureBytes(batch.capture.size());
  }
}

void SpySession::CollectWriterError() {
  std::optional<SpyCaptureWriter::Failure> failure = writer_.TakeError();
  if (!failure) return;
  writeError_ = std::move(failure->message);
  // The writer has dropped the file; capture stops unless another file has
  // been chosen since.
  if (failure->file != fileNumber_) return;
  fileOpen_ = false;
  captureToFile_ = false;
}

void SpySession::SetFrozen(bool frozen) {
  Drain();
  list_.SetFrozen(frozen);
}

void SpySession::Clear() {
  Drain();
  list_.Clear();
}

void SpySession::SetFilter(bool enabled, std::string_view text) { handover_.SetFilter(SpyTextFilter(enabled, text)); }

void SpySession::SetCaptureToFile(bool checked) {
  // Whether a packet is captured is settled when it is handed over.
  captureToFile_ = checked;
  Drain();
}

Status SpySession::OpenCaptureFile(const std::string& path) {
  if (closed_) return Status::Failure("Can't open file!");
  // What was handed over so far goes to the old file; what arrives while the
  // files change goes to the new one, or nowhere if it does not open.
  Drain();
  auto file = std::make_unique<SpyCaptureFile>();
  const Status opened = file->Open(path);
  fileNumber_ = writer_.Switch(opened.ok ? std::move(file) : nullptr);
  fileOpen_ = opened.ok;
  Drain();
  return opened;
}

void SpySession::WaitUntilCaptureWritten() {
  writer_.WaitUntilWritten();
  CollectWriterError();
}

std::optional<std::string> SpySession::TakeWriteError() {
  CollectWriterError();
  return std::exchange(writeError_, std::nullopt);
}

}  // namespace quorvel
