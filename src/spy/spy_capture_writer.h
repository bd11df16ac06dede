#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "spy/spy_capture_file.h"

namespace quorvel {

// Writes capture bytes to the capture file on a thread of its own, so that
// neither the capture thread nor the window ever waits for the disk. Jobs
// run in the order they were given: bytes given before a file change go to
// the old file. After a write error, bytes are dropped until the next file.
class SpyCaptureWriter {
 public:
  // `written` is told how many handed-over bytes left memory (written or dropped).
  explicit SpyCaptureWriter(std::function<void(std::size_t)> written);
  SpyCaptureWriter(const SpyCaptureWriter&) = delete;
  SpyCaptureWriter& operator=(const SpyCaptureWriter&) = delete;
  // Writes what is queued, closes the file and ends the thread.
  ~SpyCaptureWriter();

  // From now on bytes go to `file` (open), or nowhere (null); the file before
  // is closed once its bytes are written. Returns the number that names the
  // new file in failures.
  std::uint64_t Switch(std::unique_ptr<SpyCaptureFile> file);
  // Handed-over capture bytes, not yet in the stored CR LF form.
  void Write(std::string bytes);
  // Blocks until everything given so far is written and the file closed;
  // later calls do nothing. For closing the window and for tests.
  void Finish();
  // Blocks until everything given so far is written or has failed.
  void WaitUntilWritten();

  struct Failure {
    std::string message;  // "Can't write to %s"
    std::uint64_t file;   // as Switch numbered it
  };
  // Each failure once.
  std::optional<Failure> TakeError();
  // An emptied buffer of earlier bytes, to be filled again; may be empty.
  std::string TakeSpareBuffer();

 private:
  struct Job {
    bool switchFile = false;
    std::unique_ptr<SpyCaptureFile> file;  // when switchFile
    std::uint64_t fileNumber = 0;          // when switchFile
    std::string bytes;                     // otherwise
  };

  void Run();
  void CloseFile();

  const std::function<void(std::size_t)> written_;
  std::mutex mutex_;
  std::condition_variable wake_;  // jobs or stopping
  std::condition_variable idle_;  // queue drained
  std::deque<Job> jobs_;          // guarded by mutex_
  bool busy_ = false;             // guarded by mutex_: a job is running
  bool stopping_ = false;         // guarded by mutex_
  std::optional<Failure> error_;      // guarded by mutex_
  std::vector<std::string> spares_;   // guarded by mutex_
  std::uint64_t filesGiven_ = 0;      // guarded by mutex_
  std::unique_ptr<SpyCaptureFile> file_;  // writer thread only
  std::uint64_t fileNumber_ = 0;          // writer thread only
  std::thread thread_;
};

}  // namespace quorvel
