#include "graphs/canvas.h"

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

}  // namespace quorvel
