#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "graphs/canvas.h"
#include "graphs/recording_canvas.h"

namespace quorvel {

inline std::ostream& operator<<(std::ostream& out, const Point& p) { return out << "(" << p.x << ", " << p.y << ")"; }
inline std::ostream& operator<<(std::ostream& out, const Rect& r) {
  return out << "[" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "]";
}
inline std::ostream& operator<<(std::ostream& out, const Color& c) {
  return out << "rgb(" << int{c.red} << ", " << int{c.green} << ", " << int{c.blue} << ")";
}

namespace testing {

// What the pie tests compare of a drawing: wedges (slices and depth bands),
// polygons (band sides) and leader lines with the text drawn right after them.
struct Wedge {
  Rect box;
  Point start, end;
  Color fill;
  friend bool operator==(const Wedge&, const Wedge&) = default;
};
struct Shape {
  std::vector<Point> points;
  Color fill;
  friend bool operator==(const Shape&, const Shape&) = default;
};
struct Label {
  Point from, to, textAt;
  std::string text;
  friend bool operator==(const Label&, const Label&) = default;
};
inline std::ostream& operator<<(std::ostream& out, const Wedge& w) {
  return out << "wedge " << w.box << " " << w.start << "->" << w.end << " " << w.fill;
}
inline std::ostream& operator<<(std::ostream& out, const Shape& s) {
  for (const Point& p : s.points) out << p << " ";
  return out << s.fill;
}
inline std::ostream& operator<<(std::ostream& out, const Label& l) {
  return out << l.from << "->" << l.to << " \"" << l.text << "\" at " << l.textAt;
}

inline std::vector<Wedge> Wedges(const RecordingCanvas& canvas) {
  std::vector<Wedge> found;
  for (const Primitive& p : canvas.OfKind(PrimitiveKind::kPie)) {
    found.push_back({p.rect, p.points[0], p.points[1], p.brush.color});
  }
  return found;
}
inline std::vector<Shape> Polygons(const RecordingCanvas& canvas) {
  std::vector<Shape> found;
  for (const Primitive& p : canvas.OfKind(PrimitiveKind::kPolygon)) found.push_back({p.points, p.brush.color});
  return found;
}
inline std::vector<Label> SliceLabels(const RecordingCanvas& canvas) {
  std::vector<Label> found;
  const auto& all = canvas.Primitives();
  for (std::size_t i = 0; i + 1 < all.size(); ++i) {
    if (all[i].kind == PrimitiveKind::kLine && all[i + 1].kind == PrimitiveKind::kText) {
      found.push_back({all[i].points[0], all[i].points[1], all[i + 1].points[0], all[i + 1].text});
    }
  }
  return found;
}

}  // namespace testing
}  // namespace quorvel
