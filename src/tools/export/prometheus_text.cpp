#include "tools/export/prometheus_text.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

struct Bytes {
  std::uint64_t download = 0;
  std::uint64_t upload = 0;
};

std::string LabelValue(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\' || c == '"') {
      escaped.push_back('\\');
      escaped.push_back(c);
    } else if (c == '\n') {
      escaped.append("\\n");
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

// The busiest series by name, then "other" for the rest.
std::vector<std::pair<std::string, Bytes>> Busiest(const std::map<std::string, Bytes>& totals) {
  std::vector<std::pair<std::string, Bytes>> series(totals.begin(), totals.end());
  std::stable_sort(series.begin(), series.end(), [](const auto& a, const auto& b) {
    return a.second.download + a.second.upload > b.second.download + b.second.upload;
  });
  if (series.size() <= kPrometheusTopSeries) return series;
  Bytes other;
  for (std::size_t i = kPrometheusTopSeries; i < series.size(); ++i) {
    other.download += series[i].second.download;
    other.upload += series[i].second.upload;
  }
  series.resize(kPrometheusTopSeries);
  series.emplace_back("other", other);
  return series;
}

void AppendCounter(std::string& out, const std::string& name, const std::string& help, const std::string& label,
                   const std::vector<std::pair<std::string, Bytes>>& series, std::uint64_t Bytes::*direction) {
  out += "# HELP " + name + " " + help + "\n# TYPE " + name + " counter\n";
  for (const auto& [value, bytes] : series) {
    out += name + "{" + label + "=\"" + LabelValue(value) + "\"} " + std::to_string(bytes.*direction) + "\n";
  }
}

}  // namespace

std::string ProgramOfLocalSource(const std::string& localSource) {
  const std::size_t paren = localSource.rfind('(');
  return paren == std::string::npos || paren == 0 ? localSource : localSource.substr(0, paren);
}

std::string PrometheusText(const FlowSnapshot& flows, const CaptureCounts& capture) {
  std::map<std::string, Bytes> programs;
  std::map<std::string, Bytes> remotes;
  std::map<Ipv4Address, std::string> addressTexts;
  for (const auto& [key, flow] : flows) {
    Bytes& program = programs[ProgramOfLocalSource(key.localSource)];
    program.download += flow.download;
    program.upload += flow.upload;
    auto text = addressTexts.try_emplace(key.remoteAddress);
    if (text.second) text.first->second = Ipv4ToText(key.remoteAddress);
    Bytes& remote = remotes[text.first->second];
    remote.download += flow.download;
    remote.upload += flow.upload;
  }
  const auto busyPrograms = Busiest(programs);
  const auto busyRemotes = Busiest(remotes);
  std::string out;
  const std::string busiest = " (the 100 busiest, the rest as \"other\").";
  AppendCounter(out, "quorvel_program_download_bytes_total", "Bytes downloaded per local program" + busiest,
                "program", busyPrograms, &Bytes::download);
  AppendCounter(out, "quorvel_program_upload_bytes_total", "Bytes uploaded per local program" + busiest, "program",
                busyPrograms, &Bytes::upload);
  AppendCounter(out, "quorvel_remote_download_bytes_total", "Bytes downloaded per remote host" + busiest, "remote",
                busyRemotes, &Bytes::download);
  AppendCounter(out, "quorvel_remote_upload_bytes_total", "Bytes uploaded per remote host" + busiest, "remote",
                busyRemotes, &Bytes::upload);
  out += "# HELP quorvel_capture_packets_total Packets the capture received.\n"
         "# TYPE quorvel_capture_packets_total counter\n"
         "quorvel_capture_packets_total " + std::to_string(capture.packets) + "\n";
  out += "# HELP quorvel_capture_dropped_packets_total Packets the kernel dropped before the capture read them.\n"
         "# TYPE quorvel_capture_dropped_packets_total counter\n"
         "quorvel_capture_dropped_packets_total " + std::to_string(capture.dropped) + "\n";
  return out;
}

}  // namespace quorvel
