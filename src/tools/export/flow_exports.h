#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/status.h"
#include "engine/engine_state.h"
#include "tools/export/ipfix_exporter.h"
#include "tools/export/prometheus_endpoint.h"
#include "tools/export/prometheus_text.h"

namespace quorvel {

struct FlowExportOptions {
  std::string csvFile;         // rewritten whole at every tick
  std::string ipfixCollector;  // HOST:PORT
  int ipfixActiveSeconds = 60;
  std::string prometheus;      // [ADDRESS:]PORT
};

// quorvel-flows' exports, fed from one snapshot of the flow table per tick.
class FlowExports {
 public:
  Status Start(const FlowExportOptions& options, std::int64_t nowMilliseconds);
  void Tick(EngineState& state, const CaptureCounts& capture, std::int64_t nowMilliseconds);
  // At exit: every flow record with news goes out.
  void Finish(EngineState& state, const CaptureCounts& capture, std::int64_t nowMilliseconds);
  bool ServesPrometheus() const { return endpoint_ != nullptr; }

 private:
  void Export(EngineState& state, const CaptureCounts& capture, std::int64_t nowMilliseconds, bool final);

  std::string csvFile_;
  std::string lastCsvError_;
  std::unique_ptr<ipfix::Exporter> ipfix_;
  std::unique_ptr<PrometheusEndpoint> endpoint_;
};

}  // namespace quorvel
