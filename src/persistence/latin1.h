#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The data files store one byte per character, so only U+0000 to U+00FF fit.

// The Latin-1 bytes of a UTF-8 text; nullopt when the text holds a character
// above U+00FF or is not valid UTF-8.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8);

// The Latin-1 bytes of a UTF-8 text with "?" for each character above U+00FF
// and each byte that is not UTF-8, as the C runtime's text conversion writes.
std::string Utf8ToLatin1Lossy(std::string_view utf8);

// The UTF-8 text of Latin-1 bytes (every byte is one character).
std::string Latin1ToUtf8(std::string_view latin1);

// True when the bytes are valid UTF-8 (no overlong forms or surrogates).
bool IsValidUtf8(std::string_view text);

// Why Utf8ToLatin1 refused the text, naming the text and its first offending
// character, for a message such as "Can't save the filters: " + reason.
std::string DescribeNotLatin1(std::string_view utf8);

}  // namespace quorvel
