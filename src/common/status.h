#pragma once

#include <string>
#include <utility>

namespace quorvel {

// Outcome of an operation that may fail for a reason a person should read.
// Core code returns this instead of throwing or exiting.
struct Status {
  bool ok = true;
  std::string error;

  static Status Success() { return {}; }
  static Status Failure(std::string message) { return {false, std::move(message)}; }
  explicit operator bool() const { return ok; }
};

}  // namespace quorvel
