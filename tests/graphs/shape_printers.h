#pragma once

#include <ostream>

#include "graphs/canvas.h"

namespace quorvel {

inline std::ostream& operator<<(std::ostream& out, const Point& p) { return out << "(" << p.x << ", " << p.y << ")"; }
inline std::ostream& operator<<(std::ostream& out, const Rect& r) {
  return out << "[" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "]";
}
inline std::ostream& operator<<(std::ostream& out, const Color& c) {
  return out << "rgb(" << int{c.red} << ", " << int{c.green} << ", " << int{c.blue} << ")";
}

}  // namespace quorvel
