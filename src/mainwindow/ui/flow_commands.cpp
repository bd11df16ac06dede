#include "mainwindow/ui/flow_commands.h"

namespace quorvel {
namespace {

std::optional<std::string> BeforeLast(std::string_view text, char separator) {
  const std::size_t position = text.rfind(separator);
  if (position == std::string_view::npos || position == 0) return std::nullopt;
  return std::string(text.substr(0, position));
}

}  // namespace

std::optional<std::string> ProcessNameOf(std::string_view localSource) { return BeforeLast(localSource, '('); }

std::optional<std::string> ContainingFolderOf(std::string_view fullPath) { return BeforeLast(fullPath, '/'); }

SpyTargets AllTrafficSpyTargets() {
  return SpyTargets{"All IP addresses", "All hosts", "All local applications", "All local applications"};
}

std::string FormatCaptureStatus(const CaptureStatus& status) {
  if (!status.running) {
    if (status.interfaceName.empty()) return "Not capturing";
    return "Capture stopped on " + status.interfaceName + " (" + Ipv4ToText(status.address) + "): " +
           std::to_string(status.packetsSeen) + " packets, " + std::to_string(status.kernelDropped) +
           " dropped by the kernel";
  }
  return "Capturing on " + status.interfaceName + " (" + Ipv4ToText(status.address) + "): " +
         std::to_string(status.packetsSeen) + " packets, " + std::to_string(status.kernelDropped) +
         " dropped by the kernel; owners from " + status.attribution;
}

}  // namespace quorvel
