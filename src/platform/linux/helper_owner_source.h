#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/owner_source.h"

namespace quorvel {

class HelperProcess;

// Socket owners read by a quorvel-capture of its own, which keeps only the
// rights that reading other users' /proc/PID/fd and exe needs. A helper that
// ended is started again once per call.
class HelperOwnerSource final : public OwnerSource {
 public:
  explicit HelperOwnerSource(std::string helperPath);
  ~HelperOwnerSource() override;

  bool ReadOwners(std::vector<SocketOwner>& owners) override;
  std::optional<std::uint64_t> TablesStamp() override;

 private:
  bool Ask(const std::function<bool(HelperProcess&)>& exchange);

  std::string helperPath_;
  std::mutex mutex_;
  std::unique_ptr<HelperProcess> helper_;
};

}  // namespace quorvel
