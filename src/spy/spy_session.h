#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/status.h"
#include "spy/spy_batch.h"
#include "spy/spy_capture_writer.h"
#include "engine/spy_feed.h"
#include "spy/spy_handover.h"
#include "spy/spy_matcher.h"
#include "spy/spy_packet_list.h"
#include "spy/spy_recorder.h"
#include "spy/spy_target.h"

namespace quorvel {

// The workings of one open Traffic Spy window, without the window. The
// capture thread calls OnSpyPacket through the registry; a writer thread
// writes the capture file; every other member belongs to the window's
// thread, which drains the handed-over packets at most 30 times a second
// and on its own actions.
class SpySession final : public SpyListener {
 public:
  SpySession(SpyFeedRegistry& registry, SpyTarget target,
             std::size_t maxPendingCaptureBytes = kSpyMaxPendingCaptureBytes,
             std::size_t maxRecordedBytes = kSpyMaxRecordedBytes);
  SpySession(const SpySession&) = delete;
  SpySession& operator=(const SpySession&) = delete;
  ~SpySession() override;

  // Registers with the registry; packets arrive from then on.
  void Open();
  // Unregisters, waiting until no feed runs, then writes the capture bytes
  // handed over before and closes the file. Packets not yet drained are not
  // shown. Nothing reaches the session afterwards; closing twice is harmless.
  void Close();
  bool IsClosed() const { return closed_; }

  // Capture thread: match, filter, hand over.
  void OnSpyPacket(const SpyPacket& packet) override;

  // Moves what was handed over into the list and to the capture file.
  // Returns whether the list changed.
  bool Drain();
  // The buttons drain first, so packets that arrived before the click follow
  // the state before it.
  void SetFrozen(bool frozen);
  void Clear();
  // Read on every change of the filter box or its text.
  void SetFilter(bool enabled, std::string_view text);
  // The capture box; packets are captured while it is checked and a file is open.
  void SetCaptureToFile(bool checked);
  // Browse: closes the file open before (after writing what it was due) and
  // opens `path` for appending. On failure no file is open.
  Status OpenCaptureFile(const std::string& path);
  // Blocks until the capture bytes drained so far are written (or failed).
  void WaitUntilCaptureWritten();

  // "Can't write to %s", once per failure: capture has stopped then, the
  // file is closed and the capture box is off.
  std::optional<std::string> TakeWriteError();

  const SpyTarget& Target() const { return target_; }
  const SpyPacketList& List() const { return list_; }
  // The packets kept for "Save as pcapng...", as of the last drain.
  const SpyRecorder& Recorder() const { return recorder_; }
  bool CaptureToFile() const { return captureToFile_; }
  bool CaptureFileOpen() const { return fileOpen_; }
  // Packets that passed while capturing but found the capture bytes held in
  // memory at their bound (the disk could not keep up).
  std::uint64_t DroppedCapturePackets() const { return droppedCapturePackets_; }

 private:
  bool CapturingWanted() const { return !closed_ && captureToFile_ && fileOpen_; }
  // Takes the pending batch, capturing afterwards as the state now says;
  // applies its lines when `show` and hands its capture bytes to the writer.
  bool Process(bool show);
  void Write(SpyBatch& batch);
  void CollectWriterError();

  SpyFeedRegistry& registry_;
  const SpyTarget target_;
  const SpyMatcher matcher_;  // read by the capture thread, never changed
  SpyHandover handover_;
  SpyCaptureWriter writer_;
  std::unique_ptr<SpyBatch> spare_;

  SpyPacketList list_;
  SpyRecorder recorder_;
  std::uint64_t fileNumber_ = 0;  // the writer's number of the open file
  bool fileOpen_ = false;
  bool captureToFile_ = false;
  bool registered_ = false;
  bool closed_ = false;
  std::optional<std::string> writeError_;
  std::uint64_t droppedCapturePackets_ = 0;
};

}  // namespace quorvel
