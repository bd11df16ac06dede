#include "spy/spy_matcher.h"

#include <charconv>

#include "spy/spy_text.h"

namespace quorvel {
namespace {

constexpr std::string_view kKeySeparator = ": ";

}  // namespace

SpyMatcher::SpyMatcher(const SpyTarget& target)
    : all_(target.localSource == kAllLocalApplications), localSource_(target.localSource) {
  const std::string_view text = target.remoteIp;
  const std::size_t separator = text.rfind(kKeySeparator);
  if (separator == std::string_view::npos) return;
  const std::optional<IpAddress> address = ParseIp(text.substr(0, separator));
  const std::string_view portText = text.substr(separator + kKeySeparator.size());
  std::uint32_t port = 0;
  const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (!address || error != std::errc() || end != portText.data() + portText.size()) return;
  // Only a text that is exactly the key text of (address, port) can equal a
  // packet's key text ("010.0.0.5: 443" or "10.0.0.5: +443" never does).
  if (SpyKeyText(*address, port) != text) return;
  endpoint_ = Endpoint{*address, port};
}

bool SpyMatcher::Matches(std::string_view localSource, const IpAddress& remoteAddress,
                         std::uint32_t remotePort) const {
  if (all_) return true;
  return endpoint_ && endpoint_->address == remoteAddress && endpoint_->port == remotePort &&
         localSource == localSource_;
}

}  // namespace quorvel
