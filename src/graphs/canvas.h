#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace quorvel {

// A small drawing surface with GDI's semantics, so the graph code can be
// written once and drawn by a thin QPainter adapter or recorded in tests.
// Coordinates are device pixels, x to the right, y downward.

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int width = 0;
  int height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// Right and bottom are exclusive: a rectangle covers left..right-1 by top..bottom-1.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct Color {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Color&, const Color&) = default;
};

inline constexpr Color kBlack{0, 0, 0};
inline constexpr Color kWhite{255, 255, 255};

enum class PenStyle { kSolid, kNone };

struct Pen {
  Color color = kBlack;
  int width = 1;  // pixels
  PenStyle style = PenStyle::kSolid;
  friend bool operator==(const Pen&, const Pen&) = default;
};

struct Brush {
  Color color = kWhite;
  friend bool operator==(const Brush&, const Brush&) = default;
};

struct Font {
  std::string face;
  int cellHeight = 16;  // pixels, internal leading included
  int weight = 400;     // 400 normal, 700 bold
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  int pitchAndFamily = 0;
  friend bool operator==(const Font&, const Font&) = default;
};

enum class BackgroundMode { kOpaque, kTransparent };

// Text alignment flags; the default (0) puts the reference point at the
// text's top-left corner.
using TextAlign = unsigned;
inline constexpr TextAlign kAlignLeft = 0;
inline constexpr TextAlign kAlignTop = 0;
inline constexpr TextAlign kAlignHCenter = 1;
inline constexpr TextAlign kAlignRight = 2;
inline constexpr TextAlign kAlignBottom = 4;
inline constexpr TextAlign kAlignBaseline = 8;

// Metrics of the selected font, in pixels.
struct TextMetrics {
  int averageCharWidth = 0;
  int maxCharWidth = 0;
  int height = 0;
  friend bool operator==(const TextMetrics&, const TextMetrics&) = default;
};

// Number of characters (code points) of a UTF-8 text.
int TextLength(std::string_view text);

class Canvas;
// `text` cut in the middle with "…" to at most `maxWidth` pixels in the
// surface's current font, whole characters only; whole when it fits.
std::string ElideText(const Canvas& surface, std::string_view text, int maxWidth);

// State (pen, brush, font, colours, alignment) is a plain current value:
// each Select/Set returns the previous one so callers can put it back.
// Filled shapes are outlined with the current pen and filled with the
// current brush.
class Canvas {
 public:
  virtual ~Canvas() = default;

  // Size of the client area of the window (or image) behind the surface.
  virtual Size ClientSize() const = 0;

  virtual Pen SelectPen(const Pen& pen) = 0;
  virtual Brush SelectBrush(const Brush& brush) = 0;
  virtual Font SelectFont(const Font& font) = 0;
  virtual BackgroundMode SetBackgroundMode(BackgroundMode mode) = 0;
  virtual Color SetBackgroundColor(Color color) = 0;
  virtual Color SetTextColor(Color color) = 0;
  virtual TextAlign SetTextAlign(TextAlign align) = 0;

  // A line from `from` to `to`; the end point itself is not drawn.
  virtual void DrawLine(Point from, Point to) = 0;
  virtual void DrawRectangle(const Rect& rect) = 0;
  // A closed polygon through the points.
  virtual void DrawPolygon(std::span<const Point> points) = 0;
  virtual void DrawEllipse(const Rect& box) = 0;
  // A wedge of the ellipse in `box`, from the radius towards `start` to the
  // radius towards `end`, counter-clockwise on screen; when both radii
  // coincide the wedge is the whole ellipse.
  virtual void DrawPie(const Rect& box, Point start, Point end) = 0;
  // The rim of the same wedge, without radii or fill.
  virtual void DrawArc(const Rect& box, Point start, Point end) = 0;
  // Current font, text colour and (when opaque) background colour.
  virtual void DrawText(Point at, std::string_view text) = 0;

  virtual TextMetrics GetTextMetrics() const = 0;
  virtual Size GetTextExtent(std::string_view text) const = 0;

  // An off-screen image of `size` pixels, black until drawn on; null when
  // one cannot be made. It may only be copied onto the canvas that created it.
  virtual std::unique_ptr<Canvas> CreateImage(Size size) = 0;
  // Copies the whole image with its top-left corner at `at`, replacing what is there.
  virtual void DrawImage(Point at, const Canvas& image) = 0;

  // A modal message box with an OK button; returns when it is closed.
  virtual void ShowMessage(std::string_view text) = 0;
};

}  // namespace quorvel
