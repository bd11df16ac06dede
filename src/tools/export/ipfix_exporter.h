#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/status.h"
#include "tools/export/flow_snapshot.h"
#include "tools/export/ipfix_encoder.h"

namespace quorvel::ipfix {

struct Timeouts {
  std::int64_t activeMilliseconds = 60'000;
  std::int64_t idleMilliseconds = 15'000;
};

// Turns successive snapshots of the flow table into flow records: a flow's
// record ends when it has been idle for the idle timeout, when it has run
// for the active timeout, or at exit; each record carries the bytes and
// packets since the flow's previous record.
class RecordTracker {
 public:
  explicit RecordTracker(Timeouts timeouts) : timeouts_(timeouts) {}

  // Records due at `nowMilliseconds`; `final` ends every record with news.
  std::vector<FlowRecord> Due(const FlowSnapshot& flows, std::int64_t nowMilliseconds, bool final);

 private:
  struct Exported {
    std::uint64_t uploadOctets = 0;
    std::uint64_t uploadPackets = 0;
    std::uint64_t downloadOctets = 0;
    std::uint64_t downloadPackets = 0;
    std::int64_t recordStartMilliseconds = 0;  // of the open record; 0 while none is open
    bool any = false;                          // a record was exported before
  };

  const Timeouts timeouts_;
  std::unordered_map<FlowKey, Exported, FlowKeyHash, FlowKeyEqual> exported_;
  // When the previous snapshot was taken: a record that opens later began after it.
  std::int64_t previousSnapshotMilliseconds_ = 0;
};

// Sends flow records over UDP: templates at start and every ten minutes,
// data records as they fall due.
class Exporter {
 public:
  static constexpr std::int64_t kTemplateIntervalMilliseconds = 600'000;

  Exporter(Timeouts timeouts, std::uint32_t observationDomain = 1)
      : tracker_(timeouts), builder_(observationDomain) {}
  ~Exporter();
  Exporter(const Exporter&) = delete;
  Exporter& operator=(const Exporter&) = delete;

  // Opens the socket to "HOST:PORT" (a name or an address; "[v6]:port" too)
  // and sends the templates.
  Status Open(const std::string& collector, std::int64_t nowMilliseconds);
  void Tick(const FlowSnapshot& flows, std::int64_t nowMilliseconds, bool final = false);

  std::uint64_t RecordsSent() const { return builder_.Sequence(); }
  std::uint64_t SendFailures() const { return sendFailures_; }

 private:
  void Send(const std::string& message);
  void SendTemplates(std::int64_t nowMilliseconds);

  RecordTracker tracker_;
  MessageBuilder builder_;
  int socket_ = -1;
  std::int64_t lastTemplateMilliseconds_ = 0;
  std::uint64_t sendFailures_ = 0;
};

}  // namespace quorvel::ipfix
