#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/socket_owner_tracker.h"

namespace quorvel {

// Loads and attaches the socket-owner BPF program (needs CAP_BPF and
// CAP_PERFMON, or root). Null, with `error` saying why, when the kernel, the
// rights or the build do not allow it; owners then come from the tables alone.
// `loaded` runs once the hooks are in, before the reading thread starts, so
// that rights it gives up are given up by every thread.
std::unique_ptr<SocketOwnerTracker> StartBpfSocketTracker(std::string& error, const std::function<bool()>& loaded);

}  // namespace quorvel
