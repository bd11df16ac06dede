#include "capture/helper_rights.h"

#include <sys/capability.h>

#include <vector>

namespace quorvel {

std::uint64_t PermittedRights() {
  cap_t caps = cap_get_proc();
  if (caps == nullptr) return 0;
  std::uint64_t rights = 0;
  for (int capability = 0; capability <= CAP_LAST_CAP && capability < 64; ++capability) {
    cap_flag_value_t value = CAP_CLEAR;
    if (cap_get_flag(caps, capability, CAP_PERMITTED, &value) == 0 && value == CAP_SET) {
      rights |= RightBit(capability);
    }
  }
  cap_free(caps);
  return rights;
}

bool KeepOnlyRights(std::uint64_t keep) {
  keep &= PermittedRights();
  std::vector<cap_value_t> kept;
  for (int capability = 0; capability < 64; ++capability) {
    if (keep & RightBit(capability)) kept.push_back(capability);
  }
  cap_t caps = cap_init();
  if (caps == nullptr) return false;
  bool done = true;
  if (!kept.empty()) {
    const int count = static_cast<int>(kept.size());
    done = cap_set_flag(caps, CAP_EFFECTIVE, count, kept.data(), CAP_SET) == 0 &&
           cap_set_flag(caps, CAP_PERMITTED, count, kept.data(), CAP_SET) == 0;
  }
  done = done && cap_set_proc(caps) == 0;
  cap_free(caps);
  if (CAP_AMBIENT_SUPPORTED()) done = cap_reset_ambient() == 0 && done;
  return done;
}

}  // namespace quorvel
