#include "engine/hidden_flows.h"

namespace quorvel {

std::string HiddenFlows::Key(std::string_view first, std::string_view second) {
  // Length-prefixed, so that no two pairs share a key.
  std::string key = std::to_string(first.size());
  key += ':';
  key += first;
  key += second;
  return key;
}

void HiddenFlows::Hide(std::string_view remote, std::string_view localSource) {
  flows_[Key(remote, localSource)].waiting.reset();
}

void HiddenFlows::HideUntilNamed(FlowKey key, FlowRow row) {
  std::string id = Key(row.columns[kColumnRemote], row.columns[kColumnLocalSource]);
  const Ipv4Address address = key.remoteAddress;
  const auto [entry, added] = flows_.try_emplace(id);
  entry->second.waiting = Waiting{std::move(key), std::move(row)};
  if (added) waitingByAddress_[address].push_back(std::move(id));
}

HiddenFlows::Entry* HiddenFlows::Find(std::string_view remote, std::string_view localSource) {
  const auto found = flows_.find(Key(remote, localSource));
  return found == flows_.end() ? nullptr : &found->second;
}

std::vector<HiddenFlows::Waiting> HiddenFlows::TakeWaiting(Ipv4Address address) {
  std::vector<Waiting> taken;
  const auto ids = waitingByAddress_.find(address);
  if (ids == waitingByAddress_.end()) return taken;
  for (const std::string& id : ids->second) {
    const auto flow = flows_.find(id);
    if (flow == flows_.end() || !flow->second.waiting) continue;
    taken.push_back(std::move(*flow->second.waiting));
    flows_.erase(flow);
  }
  waitingByAddress_.erase(ids);
  return taken;
}

void HiddenFlows::HideProxy(std::string_view host, std::string_view localSource) {
  proxyFlows_.insert(Key(host, localSource));
}

bool HiddenFlows::IsProxyHidden(std::string_view host, std::string_view localSource) const {
  return proxyFlows_.contains(Key(host, localSource));
}

void HiddenFlows::Clear() {
  flows_.clear();
  waitingByAddress_.clear();
  proxyFlows_.clear();
}

}  // namespace quorvel
