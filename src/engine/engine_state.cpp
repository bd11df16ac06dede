#include "engine/engine_state.h"

namespace quorvel {

void EngineSettings::SetProxyServerText(std::string text) {
  std::lock_guard lock(textMutex_);
  proxyServerText_ = std::move(text);
}

std::string EngineSettings::ProxyServerText() const {
  std::lock_guard lock(textMutex_);
  return proxyServerText_;
}

void TrafficStats::ClearFlows() {
  flows.clear();
  proxyFlows.clear();
}

}  // namespace quorvel
