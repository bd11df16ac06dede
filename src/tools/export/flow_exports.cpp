#include "tools/export/flow_exports.h"

#include <cstdio>

#include "persistence/text_file.h"
#include "tools/export/flow_table_csv.h"

namespace quorvel {

Status FlowExports::Start(const FlowExportOptions& options, std::int64_t nowMilliseconds) {
  csvFile_ = options.csvFile;
  if (!options.ipfixCollector.empty()) {
    ipfix::Timeouts timeouts;
    timeouts.activeMilliseconds = std::int64_t{options.ipfixActiveSeconds} * 1000;
    ipfix_ = std::make_unique<ipfix::Exporter>(timeouts);
    if (Status opened = ipfix_->Open(options.ipfixCollector, nowMilliseconds); !opened) return opened;
  }
  if (!options.prometheus.empty()) {
    endpoint_ = std::make_unique<PrometheusEndpoint>();
    if (Status started = endpoint_->Start(options.prometheus); !started) return started;
  }
  return Status::Success();
}

void FlowExports::Tick(EngineState& state, const CaptureCounts& capture, std::int64_t nowMilliseconds) {
  Export(state, capture, nowMilliseconds, false);
}

void FlowExports::Finish(EngineState& state, const CaptureCounts& capture, std::int64_t nowMilliseconds) {
  Export(state, capture, nowMilliseconds, true);
}

void FlowExports::Export(EngineState& state, const CaptureCounts& capture, std::int64_t nowMilliseconds,
                         bool final) {
  if (csvFile_.empty() && !ipfix_ && !endpoint_) return;
  const FlowSnapshot flows = TakeFlowSnapshot(state);
  if (!csvFile_.empty()) {
    const Status written = WriteFileAtomically(csvFile_, FlowTableCsv(flows));
    // Said once, not every second; the old file stays whole.
    if (!written && written.error != lastCsvError_) std::fprintf(stderr, "quorvel-flows: %s\n", written.error.c_str());
    lastCsvError_ = written.error;
  }
  if (ipfix_) ipfix_->Tick(flows, nowMilliseconds, final);
  if (endpoint_) endpoint_->SetText(PrometheusText(flows, capture));
}

}  // namespace quorvel
