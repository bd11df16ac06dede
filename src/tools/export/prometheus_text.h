#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/export/flow_snapshot.h"

namespace quorvel {

struct CaptureCounts {
  std::uint64_t packets = 0;  // buffers the capture received
  std::uint64_t dropped = 0;  // packets the kernel dropped
};

inline constexpr std::size_t kPrometheusTopSeries = 100;

// The program a local source text names: the text before its last "(" (a
// process name), else the whole text (a protocol and port, a protocol name).
std::string ProgramOfLocalSource(const std::string& localSource);

// The Prometheus text exposition of the flows: downloaded and uploaded byte
// counters per local program and per remote address, each for the
// kPrometheusTopSeries busiest (by both directions) plus one "other"
// series, and the capture's packet and drop counters.
std::string PrometheusText(const FlowSnapshot& flows, const CaptureCounts& capture);

}  // namespace quorvel
