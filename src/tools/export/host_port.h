#pragma once

#include <string>

namespace quorvel {

// Splits "HOST:PORT" or "[HOST]:PORT" (a port of at most 65535); false when
// the text is not of that form.
bool SplitHostPort(const std::string& text, std::string& host, std::string& port);

}  // namespace quorvel
