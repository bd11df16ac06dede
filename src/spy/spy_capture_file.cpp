#include "spy/spy_capture_file.h"

#include <algorithm>

namespace quorvel {
namespace {

void EncodeInto(std::string_view bytes, std::string& encoded) {
  encoded.clear();
  encoded.reserve(bytes.size() + static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')));
  while (!bytes.empty()) {
    const std::size_t lineFeed = bytes.find('\n');
    if (lineFeed == std::string_view::npos) {
      encoded.append(bytes);
      break;
    }
    encoded.append(bytes.substr(0, lineFeed));
    encoded.append("\r\n");
    bytes.remove_prefix(lineFeed + 1);
  }
}

Status WriteFailure(const std::string& path) { return Status::Failure("Can't write to " + path); }

}  // namespace

std::string EncodeCaptureBytes(std::string_view bytes) {
  std::string encoded;
  EncodeInto(bytes, encoded);
  return encoded;
}

SpyCaptureFile::~SpyCaptureFile() { Close(); }

Status SpyCaptureFile::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "ab");
  if (file_ == nullptr) return Status::Failure("Can't open file!");
  path_ = path;
  return Status::Success();
}

Status SpyCaptureFile::Append(std::string_view bytes) {
  if (file_ == nullptr) return WriteFailure(path_);
  if (bytes.empty()) return Status::Success();
  EncodeInto(bytes, encoded_);
  const bool written = std::fwrite(encoded_.data(), 1, encoded_.size(), file_) == encoded_.size();
  if (!written || std::fflush(file_) != 0) return WriteFailure(path_);
  return Status::Success();
}

Status SpyCaptureFile::Close() {
  if (file_ == nullptr) return Status::Success();
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return closed ? Status::Success() : WriteFailure(path_);
}

}  // namespace quorvel
