#pragma once

namespace quorvel {

// Names the program for the desktop ("Quorvel") without setting a display
// name: Qt appends a display name to every window title, and the main
// window's title is exactly "Quorvel - host(address)".
void NameApplication();

}  // namespace quorvel
