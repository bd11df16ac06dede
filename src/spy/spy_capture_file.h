#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "common/status.h"

namespace quorvel {

// The bytes a capture file stores for handed-over capture bytes: every LF
// (0x0A) as CR LF (0x0D 0x0A), as the files have always been written in text
// mode and are read that way.
std::string EncodeCaptureBytes(std::string_view bytes);

// A ".dmp" capture file, open for appending while the spy window is open.
// Each packet is its data bytes and one LF, without header, length or time.
class SpyCaptureFile {
 public:
  SpyCaptureFile() = default;
  SpyCaptureFile(const SpyCaptureFile&) = delete;
  SpyCaptureFile& operator=(const SpyCaptureFile&) = delete;
  ~SpyCaptureFile();

  // Opens `path` for appending (created when missing); closes a file open before.
  Status Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }

  // Appends handed-over capture bytes and flushes them, so that a full disk
  // or a lost device shows at once rather than at closing.
  Status Append(std::string_view bytes);
  Status Close();

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string encoded_;  // reused between appends
};

}  // namespace quorvel
