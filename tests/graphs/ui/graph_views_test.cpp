#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <mutex>

#include "engine/engine_state.h"
#include "graphs/traffic_history.h"
#include "graphs/ui/download_view.h"
#include "graphs/ui/qpainter_canvas.h"
#include "graphs/ui/static_bar.h"
#include "graphs/ui/traffic_share_bar.h"
#include "mainwindow/ui/gui_test_support.h"

QUORVEL_GUI_TEST_LEAK_SUPPRESSIONS()

namespace quorvel {
namespace {

QRgb Rgb(Color color) { return qRgb(color.red, color.green, color.blue) & 0xFFFFFFu; }
QRgb Pixel(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFFu; }
constexpr Color kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};

class GraphViewsTest : public ::testing::Test, protected testing::UsesGuiApp {};

// Lines leave out their end point, rectangles their right and bottom edge,
// and pies run counter-clockwise from start to end.
TEST_F(GraphViewsTest, CanvasFollowsGdiConventions) {
  QImageCanvas canvas(Size{41, 41});
  canvas.SelectPen(Pen{kRed});
  canvas.DrawLine(Point{2, 5}, Point{10, 5});
  canvas.DrawLine(Point{20, 20}, Point{20, 10});  // upward, like the download bars
  canvas.SelectPen(Pen{kBlue});
  canvas.SelectBrush(Brush{kGreen});
  canvas.DrawRectangle(Rect{25, 2, 35, 12});
  struct Case {
    int x, y;
    Color color;
  };
  for (const Case& c : {Case{0, 0, kBlack}, Case{2, 5, kRed}, Case{9, 5, kRed}, Case{10, 5, kBlack},
                        Case{20, 11, kRed}, Case{20, 10, kBlack}, Case{25, 2, kBlue}, Case{34, 11, kBlue},
                        Case{30, 7, kGreen}, Case{35, 12, kBlack}}) {
    EXPECT_EQ(Pixel(canvas.Image(), c.x, c.y), Rgb(c.color)) << c.x << ", " << c.y;
  }

  QImageCanvas pie(Size{41, 41});
  pie.SelectPen(Pen{kRed});
  pie.SelectBrush(Brush{kRed});
  pie.DrawPie(Rect{0, 0, 41, 41}, Point{0, 20}, Point{20, 40});  // left end down to the bottom
  EXPECT_EQ(Pixel(pie.Image(), 10, 30), Rgb(kRed));
  EXPECT_EQ(Pixel(pie.Image(), 30, 30), 0u);
  EXPECT_EQ(Pixel(pie.Image(), 10, 10), 0u);
  QImageCanvas whole(Size{41, 41});
  whole.SelectBrush(Brush{kBlue});
  whole.DrawPie(Rect{0, 0, 41, 41}, Point{0, 19}, Point{0, 19});  // coinciding radii: the whole circle
  EXPECT_EQ(Pixel(whole.Image(), 30, 10), Rgb(kBlue));
  EXPECT_EQ(Pixel(whole.Image(), 10, 30), Rgb(kBlue));
}

TEST_F(GraphViewsTest, FontsAreChosenByCellHeightAndTextIsAligned) {
  for (const int height : {12, 15, 16, 24}) {
    const int drawn = QFontMetrics(FontForCellHeight(Font{"Arial", height, 400})).height();
    EXPECT_LE(drawn, height);
    EXPECT_GE(drawn, height - 3);
  }
  QImageCanvas canvas(Size{200, 30});
  canvas.SetTextColor(Color{255, 255, 255});
  canvas.SetBackgroundMode(BackgroundMode::kTransparent);
  canvas.SelectFont(Font{"Arial", 15, 900});
  canvas.SetTextAlign(kAlignHCenter);
  canvas.DrawText(Point{100, 5}, "DL: 0 B  UL: 0 B");
  int left = 200, right = -1;
  for (int x = 0; x < 200; ++x) {
    for (int y = 0; y < 30; ++y) {
      if (qRed(canvas.Image().pixel(x, y)) > 128) left = std::min(left, x), right = std::max(right, x);
    }
  }
  ASSERT_LT(left, right);
  EXPECT_NEAR((left + right) / 2.0, 100.0, 3.0);  // centred on the reference point
}

TEST_F(GraphViewsTest, HistoryStripDrawsBarsAndKeepsItsPictureWhileFrozen) {
  std::mutex statMutex;
  std::atomic<bool> freeze{false};
  TrafficHistory history(TrafficHistory::LengthForWindowWidth(CStaticBar::kWidth));
  history.AppendHistorySample(2048, 0);
  CStaticBar bar;
  bar.SetSource(&statMutex, &history, &freeze);
  const QImage drawn = bar.grab().toImage();
  const int mid = CStaticBar::kHeight / 2;
  const int newest = history.HistoryLength() + 1;
  EXPECT_EQ(Pixel(drawn, newest, 1), Rgb(kHistoryDownloadColor));
  EXPECT_EQ(Pixel(drawn, newest, mid + 1), 0u);

  // Frozen, the history goes on but a repaint shows the last picture, not a blank.
  freeze = true;
  history.AppendHistorySample(0, 4096);
  QImage frozen(CStaticBar::kWidth, CStaticBar::kHeight, QImage::Format_RGB32);
  frozen.fill(Qt::white);
  bar.render(&frozen, QPoint(), QRegion(), QWidget::RenderFlags());
  EXPECT_EQ(frozen, drawn.convertToFormat(QImage::Format_RGB32));
  freeze = false;  // thawed: the current history again
  EXPECT_EQ(Pixel(bar.grab().toImage(), newest, mid + 1), Rgb(kHistoryUploadColor));
  bar.SetSource(nullptr, nullptr, nullptr);
}

TEST_F(GraphViewsTest, ShareBarBuildsBothPiesAndPaintsThem) {
  EngineState state;
  {
    std::lock_guard lock(state.statMutex);
    state.stats.downloadRemotes[MakeIpv4(10, 0, 0, 1)] = RemoteTotal{"example.org", 3000};
    state.stats.downloadRemotes[MakeIpv4(10, 0, 0, 2)] = RemoteTotal{"10.0.0.2", 1000};
  }
  CTrafficShareBar bar(state);
  ASSERT_TRUE(bar.downloadView().Ready());
  {
    std::lock_guard lock(state.graphMutex);
    EXPECT_EQ(bar.downloadView().Chart()->LegendTextAt(0), "example.org (2.93 KB)");
    EXPECT_EQ(bar.uploadView().Chart()->LegendTextAt(0), "No data");
  }
  bar.resize(360, 600);
  bar.downloadView().resize(340, 260);
  const QImage pie = bar.downloadView().grab().toImage();
  int coloured = 0;
  for (int y = 0; y < pie.height(); ++y) {
    for (int x = 0; x < pie.width() / 2; ++x) coloured += Pixel(pie, x, y) == Rgb(Color{0, 192, 0});
  }
  EXPECT_GT(coloured, 500);  // the largest slice in rank 0's colour
  {
    std::lock_guard lock(state.statMutex);
    state.stats.downloadRemotes.clear();
    bar.RebuildPies(state.stats);
  }
  std::lock_guard lock(state.graphMutex);
  EXPECT_EQ(bar.downloadView().Chart()->LegendTextAt(0), "No data");
}

}  // namespace
}  // namespace quorvel
