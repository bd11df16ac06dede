#pragma once

#include <memory>

#include "engine/flow_types.h"
#include "graphs/canvas.h"
#include "graphs/chart.h"

namespace quorvel {

// Slice colours by rank of the remote's bytes, then "Other" and "No data".
inline constexpr Color kSharePiePalette[10] = {
    {0, 192, 0},     {142, 255, 255}, {255, 143, 107}, {255, 51, 153}, {199, 177, 255},
    {0, 0, 192},     {80, 50, 0},     {128, 0, 0},     {192, 192, 192}, {255, 198, 107},
};
inline constexpr Color kSharePieOtherColor{255, 226, 177};
inline constexpr Color kSharePieNoDataColor{0, 192, 0};

// Rebuilds `chart` as the share pie of `remotes`: the ten remotes with the
// most bytes as slices of their truncated percentage, the rest as "Other",
// or a single "No data" entry for an empty map. Creates the chart (type 32,
// depth ratio 0.1) when it is null and reuses it otherwise. Callers hold the
// lock that guards `remotes` (statMutex) and the one that guards the chart
// (graphMutex).
void BuildSharePie(const RemoteMap& remotes, std::unique_ptr<CChart>& chart);

}  // namespace quorvel
