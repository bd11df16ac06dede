#include "persistence/latin1.h"

#include <cstdint>
#include <cstdio>

namespace quorvel {
namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at the start of text, 0 when invalid
// (overlong forms, surrogates and values above U+10FFFF are invalid).
std::size_t ValidSequenceLength(std::string_view text, char32_t& code) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!IsContinuation(byte)) return 0;
    code = (code << 6) | (byte & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// The text with every invalid byte replaced by U+FFFD, safe to show.
std::string Printable(std::string_view text) {
  std::string result;
  while (!text.empty()) {
    char32_t code = 0;
    const std::size_t length = ValidSequenceLength(text, code);
    if (length == 0) {
      result += "\xEF\xBF\xBD";
      text.remove_prefix(1);
    } else {
      result.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return result;
}

}  // namespace

std::optional<std::string> Utf8ToLatin1(std::string_view utf8) {
  std::string result;
  result.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {
      result += static_cast<char>(byte);
      continue;
    }
    // U+0080 to U+00FF are exactly the two-byte forms led by C2 or C3.
    if ((byte != 0xC2 && byte != 0xC3) || i + 1 >= utf8.size()) return std::nullopt;
    const auto next = static_cast<unsigned char>(utf8[i + 1]);
    if (!IsContinuation(next)) return std::nullopt;
    result += static_cast<char>(((byte & 0x1F) << 6) | (next & 0x3F));
    ++i;
  }
  return result;
}

std::string Utf8ToLatin1Lossy(std::string_view utf8) {
  std::string result;
  result.reserve(utf8.size());
  while (!utf8.empty()) {
    char32_t code = 0;
    const std::size_t length = ValidSequenceLength(utf8, code);
    result += length != 0 && code <= 0xFF ? static_cast<char>(code) : '?';
    utf8.remove_prefix(length == 0 ? 1 : length);
  }
  return result;
}

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string result;
  result.reserve(latin1.size());
  for (const char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      result += c;
    } else {
      result += static_cast<char>(0xC0 | (byte >> 6));
      result += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return result;
}

bool IsValidUtf8(std::string_view text) {
  while (!text.empty()) {
    char32_t code = 0;
    const std::size_t length = ValidSequenceLength(text, code);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

std::string DescribeNotLatin1(std::string_view utf8) {
  const std::string quoted = "the text \"" + Printable(utf8) + "\"";
  std::string_view rest = utf8;
  while (!rest.empty()) {
    char32_t code = 0;
    const std::size_t length = ValidSequenceLength(rest, code);
    if (length == 0) return quoted + " is not valid UTF-8";
    if (code > 0xFF) {
      char number[16];
      std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code));
      return quoted + " contains \"" + std::string(rest.substr(0, length)) + "\" (" + number +
             "), but only characters up to U+00FF can be stored";
    }
    rest.remove_prefix(length);
  }
  return quoted + " can be stored";
}

}  // namespace quorvel
