#include "graphs/pie_geometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quorvel {

int PieAngle(double sum, double total) {
  const double angle = sum / total * 100 * 360 * 0.01;
  return std::clamp(static_cast<int>(angle), 0, 360);
}

Point RimPoint(Point center, int radius, int angle) {
  if (angle >= 360) {
    return {center.x - radius, center.y - 1};
  }
  angle = std::max(angle, 0);
  const int quadrant = angle / 90;
  const double inside = (angle - 90 * quadrant) * kPiePi / 180;
  // Rounded rather than truncated: with the approximate pi a truncated
  // cosine of 0 would land one pixel inside the rim.
  const int along = static_cast<int>(std::lround(radius * std::sin(inside)));
  const int across = static_cast<int>(std::lround(radius * std::cos(inside)));
  switch (quadrant) {
    case 0:  // left towards bottom
      return {center.x - across, center.y + along};
    case 1:  // bottom towards right
      return {center.x + along, center.y + across};
    case 2:  // right towards top
      return {center.x + across, center.y - along};
    default:  // top towards left
      return {center.x - along, center.y - across};
  }
}

Color SideColor(Color color) {
  const auto darker = [](std::uint8_t channel) {
    return static_cast<std::uint8_t>(channel > 35 ? channel - 35 : 0);
  };
  return {darker(color.red), darker(color.green), darker(color.blue)};
}

CChartSliceLabel MakeSliceLabel(Point center, int radius, int middleAngle, int boxWidth,
                                int boxHeight, std::string text) {
  CChartSliceLabel label;
  const Point rim = RimPoint(center, radius, middleAngle);
  // A middle angle of 360 (a last slice of value 1) ends quadrant 3.
  label.quadrant = std::min(middleAngle / 90, 3);
  label.inner = {(center.x + rim.x) / 2, (center.y + rim.y) / 2};
  const int half = radius / 2;
  switch (label.quadrant) {
    case 0:
      label.outer = {rim.x - half, rim.y + half};
      label.textPosition = {label.outer.x - boxWidth, label.outer.y};
      break;
    case 1:
      label.outer = {rim.x + half, rim.y + half};
      label.textPosition = {label.outer.x + 5, label.outer.y};
      break;
    case 2:
      label.outer = {rim.x + half, rim.y - half};
      label.textPosition = {label.outer.x + 5, label.outer.y - boxHeight};
      break;
    default:
      label.outer = {rim.x - half, rim.y - half};
      label.textPosition = {label.outer.x - boxWidth, label.outer.y - boxHeight};
      break;
  }
  label.text = std::move(text);
  return label;
}

void SeparateSliceLabels(std::vector<CChartSliceLabel>& labels, int boxWidth, int boxHeight) {
  for (std::size_t k = 0; k < labels.size(); ++k) {
    CChartSliceLabel& moving = labels[k];
    // Each move goes strictly one way (down or up) to another label's edge,
    // so the search ends after at most k moves.
    for (std::size_t j = 0; j < k;) {
      const CChartSliceLabel& earlier = labels[j];
      const bool overlaps = earlier.textPosition.x < moving.textPosition.x &&
                            moving.textPosition.x < earlier.textPosition.x + boxWidth &&
                            earlier.textPosition.y < moving.textPosition.y &&
                            moving.textPosition.y < earlier.textPosition.y + boxHeight;
      if (!overlaps) {
        ++j;
        continue;
      }
      const int shift = moving.quadrant < 2 ? boxHeight : -boxHeight;
      moving.textPosition.y = earlier.textPosition.y + shift;
      moving.outer.y = earlier.outer.y + shift;
      j = 0;
    }
  }
}

}  // namespace quorvel
