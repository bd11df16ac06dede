#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/interfaces.h"

namespace quorvel {

// Interfaces from getifaddrs; the default route from /proc/net/route.
class IfaddrsInterfaceLister final : public InterfaceLister {
 public:
  explicit IfaddrsInterfaceLister(std::string routeTablePath = "/proc/net/route")
      : routeTablePath_(std::move(routeTablePath)) {}

  std::vector<InterfaceInfo> List() override;
  std::optional<Ipv4Address> DefaultRouteAddress() override;

 private:
  std::string routeTablePath_;
};

// The interface names of the default routes (destination 0.0.0.0/0, route
// up) in a /proc/net/route text, lowest metric first; equal metrics keep
// table order.
std::vector<std::string> DefaultRouteInterfaces(std::string_view routeTable);

// Name of the interface that holds the address (a primary or secondary one).
std::optional<std::string> InterfaceHoldingAddress(Ipv4Address address);

// True when getifaddrs reports an interface of exactly this name.
bool HasInterfaceNamed(std::string_view name);

}  // namespace quorvel
