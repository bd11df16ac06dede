#include "platform/linux/helper_owner_source.h"

#include "platform/linux/helper_process.h"

namespace quorvel {
namespace {

// A pass over thousands of processes takes a while on a loaded machine.
constexpr int kReplyMilliseconds = 10000;

}  // namespace

HelperOwnerSource::HelperOwnerSource(std::string helperPath) : helperPath_(std::move(helperPath)) {}

HelperOwnerSource::~HelperOwnerSource() = default;

bool HelperOwnerSource::Ask(const std::function<bool(HelperProcess&)>& exchange) {
  std::lock_guard lock(mutex_);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!helper_) helper_ = HelperProcess::Start(helperPath_, HelperRole::kOwners).helper;
    if (!helper_) return false;
    if (exchange(*helper_)) return true;
    helper_.reset();
  }
  return false;
}

bool HelperOwnerSource::ReadOwners(std::vector<SocketOwner>& owners) {
  bool tablesRead = false;
  const bool answered = Ask([&](HelperProcess& helper) {
    owners.clear();
    if (!helper.Send(OwnersRequest{})) return false;
    std::string error;
    for (;;) {
      auto reply = helper.Receive(kReplyMilliseconds, error);
      auto* list = reply ? std::get_if<OwnerListReply>(&*reply) : nullptr;
      if (list == nullptr) return false;
      owners.insert(owners.end(), std::make_move_iterator(list->owners.begin()),
                    std::make_move_iterator(list->owners.end()));
      if (list->last) {
        tablesRead = !list->failed;
        return true;
      }
    }
  });
  return answered && tablesRead;
}

std::optional<std::uint64_t> HelperOwnerSource::TablesStamp() {
  std::optional<std::uint64_t> stamp;
  Ask([&](HelperProcess& helper) {
    std::string error;
    if (!helper.Send(StampRequest{})) return false;
    const auto reply = helper.Receive(kReplyMilliseconds, error);
    const auto* answer = reply ? std::get_if<StampReply>(&*reply) : nullptr;
    if (answer == nullptr) return false;
    stamp = answer->stamp;
    return true;
  });
  return stamp;
}

}  // namespace quorvel
