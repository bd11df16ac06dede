#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/monitor.h"
#include "engine/flow_rows.h"

namespace quorvel {

// "Copy process name": the local source text before its last "("; nothing
// when it has none or starts with it (a protocol text such as "TCP protocol: 80").
std::optional<std::string> ProcessNameOf(std::string_view localSource);

// "Open containing folder": the full path before its last "/"; nothing when
// it has none or starts with it.
std::optional<std::string> ContainingFolderOf(std::string_view fullPath);

// What names a flow's row whatever its position: "Remote IP: port" and the
// local source, or for a proxy flow (an address without port in column 0)
// the host and the local source.
struct FlowIdentity {
  bool byHost = false;
  std::string remote;  // column 0, or column 1 when byHost
  std::string localSource;
};
FlowIdentity IdentityOf(const FlowRowTexts& columns);
bool HasIdentity(const FlowRowTexts& columns, const FlowIdentity& identity);

// The four texts the Traffic Spy is opened with.
struct SpyTargets {
  std::string remoteIp;
  std::string remoteHost;
  std::string localSource;
  std::string fullPath;

  friend bool operator==(const SpyTargets&, const SpyTargets&) = default;
};

// The spy for all traffic: "All IP addresses", "All hosts", "All local applications" twice.
SpyTargets AllTrafficSpyTargets();

// The status bar's capture text: interface, address, packets seen, the
// kernel's drops and the capture helper's, so that lost packets are never
// silent; once capture stopped with an error, why.
std::string FormatCaptureStatus(const CaptureStatus& status);

}  // namespace quorvel
