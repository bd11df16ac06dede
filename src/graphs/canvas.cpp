#include "graphs/canvas.h"

#include <vector>

namespace quorvel {

int TextLength(std::string_view text) {
  int length = 0;
  for (const char c : text) {
    // Continuation bytes (10xxxxxx) belong to the character before them.
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++length;
    }
  }
  return length;
}

std::string ElideText(const Canvas& surface, std::string_view text, int maxWidth) {
  if (surface.GetTextExtent(text).width <= maxWidth) return std::string(text);
  std::vector<std::size_t> starts;  // byte offset of each character
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  const auto kept = [&](std::size_t count) {
    const std::size_t head = (count + 1) / 2;
    const std::size_t tail = count - head;
    const std::size_t headEnd = head < starts.size() ? starts[head] : text.size();
    const std::size_t tailStart = tail == 0 ? text.size() : starts[starts.size() - tail];
    return std::string(text.substr(0, headEnd)) + "\u2026" + std::string(text.substr(tailStart));
  };
  // The most characters that still fit, found by halving.
  std::size_t low = 0;
  std::size_t high = starts.empty() ? 0 : starts.size() - 1;
  while (low < high) {
    const std::size_t middle = (low + high + 1) / 2;
    if (surface.GetTextExtent(kept(middle)).width <= maxWidth) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  std::string elided = kept(low);
  return surface.GetTextExtent(elided).width <= maxWidth ? elided : std::string();
}

}  // namespace quorvel
