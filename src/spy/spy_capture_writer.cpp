#include "spy/spy_capture_writer.h"

#include <utility>

namespace quorvel {
namespace {

// Spare buffers kept for reuse; two are enough for one in the writer's hand
// and one being filled.
constexpr std::size_t kMaxSpares = 2;

}  // namespace

SpyCaptureWriter::SpyCaptureWriter(std::function<void(std::size_t)> written)
    : written_(std::move(written)), thread_([this] { Run(); }) {}

SpyCaptureWriter::~SpyCaptureWriter() { Finish(); }

std::uint64_t SpyCaptureWriter::Switch(std::unique_ptr<SpyCaptureFile> file) {
  std::lock_guard lock(mutex_);
  const std::uint64_t number = ++filesGiven_;
  if (!stopping_) {
    jobs_.push_back(Job{true, std::move(file), number, {}});
    wake_.notify_one();
  }
  return number;
}

void SpyCaptureWriter::Write(std::string bytes) {
  const std::size_t size = bytes.size();
  {
    std::lock_guard lock(mutex_);
    if (!stopping_) {
      jobs_.push_back(Job{false, nullptr, 0, std::move(bytes)});
      wake_.notify_one();
      return;
    }
  }
  written_(size);
}

void SpyCaptureWriter::Finish() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void SpyCaptureWriter::WaitUntilWritten() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

std::optional<SpyCaptureWriter::Failure> SpyCaptureWriter::TakeError() {
  std::lock_guard lock(mutex_);
  return std::exchange(error_, std::nullopt);
}

std::string SpyCaptureWriter::TakeSpareBuffer() {
  std::lock_guard lock(mutex_);
  if (spares_.empty()) return {};
  std::string spare = std::move(spares_.back());
  spares_.pop_back();
  return spare;
}

void SpyCaptureWriter::CloseFile() {
  if (!file_) return;
  const Status closed = file_->Close();
  file_.reset();
  if (!closed.ok) {
    std::lock_guard lock(mutex_);
    error_ = Failure{closed.error, fileNumber_};
  }
}

void SpyCaptureWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
    if (jobs_.empty()) break;  // stopping, all written
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();

    if (job.switchFile) {
      CloseFile();
      file_ = std::move(job.file);
      fileNumber_ = job.fileNumber;
    } else {
      if (file_) {
        if (const Status appended = file_->Append(job.bytes); !appended.ok) {
          file_.reset();  // closing a file that failed adds nothing to report
          std::lock_guard errorLock(mutex_);
          error_ = Failure{appended.error, fileNumber_};
        }
      }
      written_(job.bytes.size());
      job.bytes.clear();
    }

    lock.lock();
    busy_ = false;
    if (job.bytes.capacity() > std::string().capacity() && spares_.size() < kMaxSpares) spares_.push_back(std::move(job.bytes));
    if (jobs_.empty()) idle_.notify_all();
  }
  lock.unlock();
  CloseFile();
  lock.lock();
  idle_.notify_all();
}

}  // namespace quorvel
