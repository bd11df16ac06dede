#pragma once

namespace quorvel {

// Registers the program's icons (":/icons/..."). The resources live in a
// static library, whose unreferenced initialiser the linker would drop.
void InitResources();

}  // namespace quorvel
