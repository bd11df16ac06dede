#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "common/status.h"

namespace quorvel {

// A minimal HTTP/1.1 server for one text: GET /metrics (or /) answers it in
// the Prometheus text format, anything else gets an error status; every
// connection closes after one answer. One thread and one poll serve all
// clients, so a slow or hostile client can hold neither the thread nor
// memory: at most kMaxClients connections, kMaxRequestBytes of request each,
// kClientMilliseconds from connect to the last byte answered.
class PrometheusEndpoint {
 public:
  static constexpr std::size_t kMaxClients = 16;
  static constexpr std::size_t kMaxRequestBytes = 8192;
  static constexpr int kClientMilliseconds = 5000;

  PrometheusEndpoint() = default;
  ~PrometheusEndpoint();
  PrometheusEndpoint(const PrometheusEndpoint&) = delete;
  PrometheusEndpoint& operator=(const PrometheusEndpoint&) = delete;

  // Listens on "ADDRESS:PORT", or on 127.0.0.1 when only a port is given.
  Status Start(const std::string& listenAt);
  // The text later requests get.
  void SetText(std::string text);
  std::uint16_t Port() const { return port_; }
  void Stop();

 private:
  void Run();
  std::string Response(const std::string& request);

  int listenFd_ = -1;
  int wakeFd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::mutex textMutex_;
  std::string text_;  // guarded by textMutex_
};

}  // namespace quorvel
