#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <array>
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

QRgb Rgb(Color color) { return qRgb(color.red, color.green, color.blue); }

QRgb Pixel(const QImageCanvas& canvas, int x, int y) { return canvas.Image().pixel(x, y) & 0xFFFFFFu; }

class GraphViewsTest : public ::testing::Test, protected testing::UsesGuiApp {};

TEST_F(GraphViewsTest, CanvasFollowsGdiConventions) {
  QImageCanvas canvas(Size{40, 30});
  EXPECT_EQ(Pixel(canvas, 0, 0), qRgb(0, 0, 0) & 0xFFFFFFu);  // a new image is black

  canvas.SelectPen(Pen{Color{255, 0, 0}});
  canvas.DrawLine(Point{2, 5}, Point{10, 5});
  EXPECT_EQ(Pixel(canvas, 2, 5), Rgb({255, 0, 0}) & 0xFFFFFFu);
  EXPECT_EQ(Pixel(canvas, 9, 5), Rgb({255, 0, 0}) & 0xFFFFFFu);
  EXPECT_EQ(Pixel(canvas, 10, 5), 0u);  // the end point is left out
  canvas.DrawLine(Point{20, 20}, Point{20, 10});  // upward, like the download bars
  EXPECT_EQ(Pixel(canvas, 20, 11), Rgb({255, 0, 0}) & 0xFFFFFFu);
  EXPECT_EQ(Pixel(canvas, 20, 10), 0u);

  canvas.SelectPen(Pen{Color{0, 0, 255}});
  canvas.SelectBrush(Brush{Color{0, 255, 0}});
  canvas.DrawRectangle(Rect{25, 2, 35, 12});
  EXPECT_EQ(Pixel(canvas, 25, 2), Rgb({0, 0, 255}) & 0xFFFFFFu);   // frame, inside the rectangle
  EXPECT_EQ(Pixel(canvas, 34, 11), Rgb({0, 0, 255}) & 0xFFFFFFu);
  EXPECT_EQ(Pixel(canvas, 30, 7), Rgb({0, 255, 0}) & 0xFFFFFFu);   // fill
  EXPECT_EQ(Pixel(canvas, 35, 12), 0u);                            // right and bottom are exclusive
}

TEST_F(GraphViewsTest, PiesRunCounterClockwiseFromStartToEnd) {
  QImageCanvas canvas(Size{41, 41});
  canvas.SelectPen(Pen{Color{200, 0, 0}});
  canvas.SelectBrush(Brush{Color{200, 0, 0}});
  // From the left end of the diameter down to the bottom: the lower-left quarter.
  canvas.DrawPie(Rect{0, 0, 41, 41}, Point{0, 20}, Point{20, 40});
  EXPECT_EQ(Pixel(canvas, 10, 30), Rgb({200, 0, 0}) & 0xFFFFFFu);
  EXPECT_EQ(Pixel(canvas, 30, 30), 0u);
  EXPECT_EQ(Pixel(canvas, 10, 10), 0u);
  // Coinciding radii fill the whole circle.
  QImageCanvas whole(Size{41, 41});
  whole.SelectBrush(Brush{Color{0, 0, 200}});
  whole.DrawPie(Rect{0, 0, 41, 41}, Point{0, 19}, Point{0, 19});
  EXPECT_EQ(Pixel(whole, 30, 10), Rgb({0, 0, 200}) & 0xFFFFFFu);
  EXPECT_EQ(Pixel(whole, 10, 30), Rgb({0, 0, 200}) & 0xFFFFFFu);
}

TEST_F(GraphViewsTest, FontsAreChosenByCellHeightAndTextIsAligned) {
  for (const int height : {12, 15, 16, 24}) {
    const QFont font = FontForCellHeight(Font{"Arial", height, 400});
    EXPECT_LE(QFontMetrics(font).height(), height);
    EXPECT_GE(QFontMetrics(font).height(), height - 3);
  }
  QImageCanvas canvas(Size{200, 30});
  canvas.SetTextColor(Color{255, 255, 255});
  canvas.SetBackgroundMode(BackgroundMode::kTransparent);
  canvas.SelectFont(Font{"Arial", 15, 900});
  canvas.SetTextAlign(kAlignHCenter);
  canvas.DrawText(Point{100, 5}, "DL: 0 B  UL: 0 B");
  int left = 200;
  int right = -1;
  for (int x = 0; x < 200; ++x) {
    for (int y = 0; y < 30; ++y) {
      if (qRed(canvas.Image().pixel(x, y)) > 128) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
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
  const auto pixel = [](const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFFu; };
  const QImage drawn = bar.grab().toImage();
  const int mid = CStaticBar::kHeight / 2;
  const int newest = history.HistoryLength() + 1;
  EXPECT_EQ(pixel(drawn, 2, mid), Rgb(kHistoryMiddleLineColor) & 0xFFFFFFu);
  EXPECT_EQ(pixel(drawn, newest, mid - 1), Rgb(kHistoryDownloadColor) & 0xFFFFFFu);
  EXPECT_EQ(pixel(drawn, newest, 1), Rgb(kHistoryDownloadColor) & 0xFFFFFFu);
  EXPECT_EQ(pixel(drawn, newest - 1, mid - 1), 0u);  // the older samples are 0
  EXPECT_EQ(pixel(drawn, newest, mid + 1), 0u);      // no upload

  // Frozen, the history goes on but a repaint shows the last picture, not a blank.
  freeze = true;
  history.AppendHistorySample(0, 4096);
  QImage frozen(CStaticBar::kWidth, CStaticBar::kHeight, QImage::Format_RGB32);
  frozen.fill(Qt::white);
  bar.render(&frozen, QPoint(), QRegion(), QWidget::RenderFlags());
  EXPECT_EQ(frozen, drawn.convertToFormat(QImage::Format_RGB32));

  freeze = false;  // thawed: the current history again
  const QImage thawed = bar.grab().toImage();
  EXPECT_EQ(pixel(thawed, newest, mid + 1), Rgb(kHistoryUploadColor) & 0xFFFFFFu);
  EXPECT_EQ(pixel(thawed, newest - 1, mid - 1), Rgb(kHistoryDownloadColor) & 0xFFFFFFu);
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
  EXPECT_EQ(bar.windowTitle(), QStringLiteral("Traffic Bar"));
  ASSERT_TRUE(bar.downloadView().Ready());
  {
    std::lock_guard lock(state.graphMutex);
    EXPECT_EQ(bar.downloadView().Chart()->LegendTextAt(0), "example.org (2.93 KB)");
    EXPECT_EQ(bar.downloadView().Chart()->LegendTextAt(1), "10.0.0.2 (1000 B)");
    EXPECT_EQ(bar.uploadView().Chart()->LegendTextAt(0), "No data");
  }
  bar.resize(360, 600);
  bar.downloadView().resize(340, 260);
  const QImage pie = bar.downloadView().grab().toImage();
  int coloured = 0;
  for (int y = 0; y < pie.height(); ++y) {
    for (int x = 0; x < pie.width() / 2; ++x) {
      if ((pie.pixel(x, y) & 0xFFFFFFu) == (Rgb(Color{0, 192, 0}) & 0xFFFFFFu)) ++coloured;
    }
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
