#pragma once

#include <string>
#include <vector>

#include "graphs/canvas.h"
#include "graphs/chart.h"

namespace quorvel {

// The pies' own value of pi; their angles are whole degrees.
inline constexpr double kPiePi = 3.14159;

// Angle in whole degrees (0 to 360) reached by the running sum `sum` of a
// pie whose values add up to `total` (> 0).
int PieAngle(double sum, double total);

// Point of the circle about `center` at `angle` degrees: 0 is the left end
// of the horizontal diameter and angles grow counter-clockwise on screen
// (left, bottom, right, top). 360 gives the point just above the left end,
// so that a slice ending there differs from a start point on the diameter.
Point RimPoint(Point center, int radius, int angle);

// The colour of a slice's depth band: 35 darker per channel, floored at 0.
Color SideColor(Color color);

// Leader line and text position of the slice whose middle lies at
// `middleAngle`; boxWidth/boxHeight is the label box (W, H).
CChartSliceLabel MakeSliceLabel(Point center, int radius, int middleAngle, int boxWidth,
                                int boxHeight, std::string text);

// Moves each label off the box of every earlier one it falls into: down by
// a box height in the lower half of the pie, up in the upper half.
void SeparateSliceLabels(std::vector<CChartSliceLabel>& labels, int boxWidth, int boxHeight);

}  // namespace quorvel
