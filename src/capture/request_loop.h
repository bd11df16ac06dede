#pragma once

namespace quorvel {

// Exit statuses of quorvel-capture.
inline constexpr int kHelperDone = 0;
inline constexpr int kHelperFailed = 1;     // the capture could not be opened or rights not dropped
inline constexpr int kHelperMalformed = 2;  // a request that is malformed, out of range or out of turn

// Answers the requests that arrive on `socket` until a stop, the end of the
// stream or a malformed request; returns the exit status.
int RunRequestLoop(int socket);

}  // namespace quorvel
