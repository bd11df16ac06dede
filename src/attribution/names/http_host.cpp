#include "attribution/names/http_host.h"

#include <array>
#include <string_view>

#include "attribution/names/host_name_text.h"

namespace quorvel {
namespace {

constexpr std::array<std::string_view, 9> kMethods = {"GET ",     "POST ",  "HEAD ",  "PUT ",  "DELETE ",
                                                      "OPTIONS ", "PATCH ", "TRACE ", "CONNECT "};

bool StartsWithMethod(std::string_view text) {
  for (const std::string_view method : kMethods) {
    if (text.starts_with(method)) return true;
  }
  return false;
}

bool IsHostHeader(std::string_view line) {
  constexpr std::string_view kName = "host:";
  if (line.size() < kName.size()) return false;
  for (std::size_t i = 0; i < kName.size(); ++i) {
    const char c = line[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c) != kName[i]) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<std::string> ReadHttpHost(std::span<const std::uint8_t> payload) {
  const std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
  if (!StartsWithMethod(text)) return std::nullopt;
  std::size_t end = text.find('\n');
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view requestLine = Trim(text.substr(0, end));
  if (requestLine.size() < 8 || !requestLine.substr(requestLine.size() - 8).starts_with("HTTP/1.")) {
    return std::nullopt;
  }
  for (std::size_t start = end + 1; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string_view::npos) return std::nullopt;  // the header goes on past the bytes received
    const std::string_view line = text.substr(start, end - start);
    if (Trim(line).empty()) return std::nullopt;  // end of the headers
    if (!IsHostHeader(line)) continue;
    std::string_view host = Trim(line.substr(5));
    if (const std::size_t colon = host.rfind(':'); colon != std::string_view::npos) host = host.substr(0, colon);
    return CleanHostName(host);
  }
  return std::nullopt;
}

}  // namespace quorvel
