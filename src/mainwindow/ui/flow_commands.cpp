#include "mainwindow/ui/flow_commands.h"

namespace quorvel {
namespace {

std::optional<std::string> BeforeLast(std::string_view text, char separator) {
  const std::size_t position = text.rfind(separator);
  if (position == std::string_view::npos || position == 0) return std::nullopt;
  return std::string(text.substr(0, position));
}

bool IsProxyRow(const FlowRowTexts& columns) { return columns[kColumnRemote].find(':') == std::string::npos; }

}  // namespace

std::optional<std::string> ProcessNameOf(std::string_view localSource) { return BeforeLast(localSource, '('); }

std::optional<std::string> ContainingFolderOf(std::string_view fullPath) { return BeforeLast(fullPath, '/'); }

FlowIdentity IdentityOf(const FlowRowTexts& columns) {
  const bool byHost = IsProxyRow(columns);
  return FlowIdentity{byHost, columns[byHost ? kColumnHost : kColumnRemote], columns[kColumnLocalSource]};
}

bool HasIdentity(const FlowRowTexts& columns, const FlowIdentity& identity) {
  const bool byHost = IsProxyRow(columns);
  return byHost == identity.byHost && columns[byHost ? kColumnHost : kColumnRemote] == identity.remote &&
         columns[kColumnLocalSource] == identity.localSource;
}

SpyTargets AllTrafficSpyTargets() {
  return SpyTargets{"All IP addresses", "All hosts", "All local applications", "All local applications"};
}

std::string FormatCaptureStatus(const CaptureStatus& status) {
  if (status.interfaceName.empty()) return status.problem.empty() ? "Not capturing" : status.problem;
  const std::string counts = std::to_string(status.packetsSeen) + " packets, " +
                             std::to_string(status.kernelDropped) + " dropped by the kernel, " +
                             std::to_string(status.helperDropped) + " by Quorvel";
  const std::string where = status.interfaceName + " (" + Ipv4ToText(status.address) + ")";
  if (status.interfaceDown) return "Interface " + where + " is down: capture resumes when it is back; " + counts;
  if (status.running) {
    const std::string why = status.attributionProblem.empty() ? "" : " (" + status.attributionProblem + ")";
    return "Capturing on " + where + ": " + counts + "; owners from " + status.attribution + why;
  }
  if (!status.problem.empty()) return "Capture stopped on " + where + ": " + status.problem + "; " + counts;
  return "Capture stopped on " + where + ": " + counts;
}

}  // namespace quorvel
