// The gauge strip: where it goes at any frame size, and what it draws
// there and nowhere else.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "video/BitmapFont.h"
#include "video/GaugeRender.h"

namespace {

// A frame of one colour, with padding after each row to catch a drawing
// that takes the stride for the width.
struct TestFrame {
  TestFrame(int w, int h, uint8_t grey = 120) : width(w), height(h), stride(w * 4 + 12) {
    pixels.assign(static_cast<size_t>(stride) * static_cast<size_t>(h), grey);
  }
  Canvas canvas() { return {pixels.data(), width, height, stride}; }
  const uint8_t* At(int x, int y) const { return &pixels[static_cast<size_t>(y * stride + x * 4)]; }
  int width, height, stride;
  std::vector<uint8_t> pixels;
};

Gauge Value(std::string text, double fraction) { return {"Speed", "km/h", std::move(text), fraction, false}; }

// The bar's bright fill along the row through its middle.
int FilledBar(const TestFrame& frame, const GaugeLayout& layout, int i) {
  const PixelRect area = GaugeRect(layout, i);
  const int y = area.y + area.height - layout.padding - layout.barHeight / 2 - 1;
  int filled = 0;
  for (int x = area.x; x < area.x + area.width; ++x) filled += frame.At(x, y)[0] == 255 && frame.At(x, y)[1] == 176;
  return filled;
}

bool SameIn(const TestFrame& a, const TestFrame& b, const PixelRect& area) {
  for (int y = area.y; y < area.y + area.height; ++y)
    for (int x = area.x; x < area.x + area.width; ++x)
      for (int c = 0; c < 4; ++c)
        if (a.At(x, y)[c] != b.At(x, y)[c]) return false;
  return true;
}

TEST(GaugeLayout, FitsTheWidestValueOnEveryFrameAndGrowsWithIt) {
  const int sizes[][2] = {{640, 360}, {854, 480}, {1280, 720}, {1920, 1080}, {3840, 2160}, {1080, 1920}, {720, 1280}};
  for (const auto& size : sizes) {
    for (int count = 1; count <= kMaxGauges; ++count) {
      SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]) + " count " + std::to_string(count));
      const GaugeLayout layout = StripLayout(size[0], size[1], count);
      EXPECT_EQ(layout.panel, (PixelRect{0, size[1] - layout.panel.height, size[0], layout.panel.height}));
      EXPECT_LE(layout.panel.height, size[1] / 5);  // the picture stays the picture
      int right = 0;
      for (int i = 0; i < count; ++i) {
        const PixelRect area = GaugeRect(layout, i);
        EXPECT_EQ(area.x, right);  // side by side, no gap, no overlap
        right = area.x + area.width;
        const int inner = area.width - 2 * layout.padding;
        const int widest = TextWidth("20400", layout.valueScale) + kGlyphAdvance * layout.nameScale +
                           TextWidth("km/h", layout.nameScale);
        EXPECT_LE(widest, inner);
      }
      EXPECT_EQ(right, size[0]);
      // Digits of 14 pixels or more: readable on a phone's screen.
      EXPECT_GE(kCapHeight * layout.valueScale, 14);
    }
  }
  EXPECT_GE(StripLayout(3840, 2160, 4).valueScale, 5 * StripLayout(640, 360, 4).valueScale);
  EXPECT_EQ(StripLayout(1280, 720, 9).count, kMaxGauges);
  EXPECT_EQ(StripLayout(1280, 720, -1).count, 0);
  EXPECT_EQ(GaugeRect(StripLayout(1280, 720, 2), 2), PixelRect{});
}

TEST(GaugeDrawing, DarkensThePanelAndTouchesNothingElse) {
  TestFrame frame(640, 360);
  const TestFrame before = frame;
  const GaugeLayout layout = StripLayout(640, 360, 3);
  const std::vector<Gauge> gauges = {Value("88", 0.5), Value("120", 1), {"Coolant Temp", "deg C", "n/a", 0, true}};
  Canvas canvas = frame.canvas();
  DrawGauges(canvas, layout, gauges);
  // Above the panel and the rows' padding: as they were.
  for (int y = 0; y < frame.height; ++y)
    for (int x = 0; x < frame.stride / 4; ++x) {
      const bool inPanel = y >= layout.panel.y && x < frame.width;
      if (inPanel) continue;
      for (int c = 0; c < 4; ++c) ASSERT_EQ(frame.At(x, y)[c], before.At(x, y)[c]) << x << "," << y;
    }
  // Semi-transparent: darker than the picture, yet the picture shows.
  const uint8_t* corner = frame.At(0, frame.height - 1);
  EXPECT_LT(corner[0], 120);
  EXPECT_GT(corner[0], 0);
  EXPECT_GT(corner[3], 120);  // composited over the frame's own alpha

  // The same input draws the same pixels, so the window and the file agree.
  TestFrame again = before;
  Canvas againCanvas = again.canvas();
  DrawGauges(againCanvas, layout, gauges);
  EXPECT_EQ(again.pixels, frame.pixels);
}

TEST(GaugeDrawing, BarFollowsTheFractionAndAMissingValueHasNone) {
  const GaugeLayout layout = StripLayout(1280, 720, 6);
  TestFrame frame(1280, 720);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Gauge> gauges = {Value("0", 0),     Value("50", 0.5), Value("100", 1),
                                     Value("170", 1.7), Value("?", nan),  {"Speed", "km/h", "n/a", 0.8, true}};
  Canvas canvas = frame.canvas();
  DrawGauges(canvas, layout, gauges);
  const auto full = [&](int i) { return GaugeRect(layout, i).width - 2 * layout.padding; };
  EXPECT_EQ(FilledBar(frame, layout, 0), 0);
  EXPECT_NEAR(FilledBar(frame, layout, 1), full(1) / 2, 1);
  EXPECT_EQ(FilledBar(frame, layout, 2), full(2));
  EXPECT_EQ(FilledBar(frame, layout, 3), full(3));  // pinned at the end, not past it
  EXPECT_EQ(FilledBar(frame, layout, 4), 0);
  EXPECT_EQ(FilledBar(frame, layout, 5), 0);  // never a bar for what was not sent
}

TEST(GaugeDrawing, EachGaugeStaysInItsOwnArea) {
  const GaugeLayout layout = StripLayout(640, 360, 6);
  TestFrame shortNames(640, 360);
  TestFrame longNames(640, 360);
  const Gauge plain = Value("3412", 0.3);
  Gauge wide{"Ignition Timing Ignition Timing", "deg BTDC", "-145888888", 0.3, false};
  std::vector<Gauge> gauges(6, plain);
  Canvas shortCanvas = shortNames.canvas();
  DrawGauges(shortCanvas, layout, gauges);
  gauges[2] = wide;
  Canvas longCanvas = longNames.canvas();
  DrawGauges(longCanvas, layout, gauges);
  EXPECT_TRUE(SameIn(shortNames, longNames, GaugeRect(layout, 1)));
  EXPECT_TRUE(SameIn(shortNames, longNames, GaugeRect(layout, 3)));
  EXPECT_FALSE(SameIn(shortNames, longNames, GaugeRect(layout, 2)));

  // One digit more or less shows.
  TestFrame other(640, 360);
  gauges[2] = Value("3413", 0.3);
  Canvas otherCanvas = other.canvas();
  DrawGauges(otherCanvas, layout, gauges);
  EXPECT_FALSE(SameIn(shortNames, other, GaugeRect(layout, 2)));
}

TEST(GaugeDrawing, AFrameTooSmallOrGaugesTooFewDrawWhatFits) {
  for (const auto& size : {std::pair{1, 1}, std::pair{16, 9}, std::pair{64, 8}}) {
    TestFrame frame(size.first, size.second);
    const GaugeLayout layout = StripLayout(size.first, size.second, 6);
    const std::vector<Gauge> gauges(6, Value("10000", 1));
    Canvas canvas = frame.canvas();
    DrawGauges(canvas, layout, gauges);  // the sanitizers see any write out of bounds
    EXPECT_LE(layout.panel.y + layout.panel.height, size.second);
  }
  // Four places, one gauge: the panel, one gauge drawn, the rest empty.
  TestFrame one(640, 360);
  TestFrame none(640, 360);
  const GaugeLayout layout = StripLayout(640, 360, 4);
  const std::vector<Gauge> gauges = {Value("12", 0.5)};
  Canvas oneCanvas = one.canvas();
  DrawGauges(oneCanvas, layout, gauges);
  Canvas noneCanvas = none.canvas();
  DrawGauges(noneCanvas, layout, {});
  EXPECT_FALSE(SameIn(one, none, GaugeRect(layout, 0)));
  EXPECT_TRUE(SameIn(one, none, GaugeRect(layout, 1)));
}

TEST(BitmapFont, EveryPrintableCharacterHasItsOwnGlyph) {
  for (char c = '!'; c <= '~'; ++c) {
    int lit = 0;
    for (uint8_t row : GlyphOf(c)) lit += row != 0;
    EXPECT_GT(lit, 0) << c;
    for (char d = '!'; d < c; ++d)
      EXPECT_FALSE(std::equal(GlyphOf(c).begin(), GlyphOf(c).end(), GlyphOf(d).begin())) << c << " as " << d;
  }
  EXPECT_TRUE(std::equal(GlyphOf('\x7f').begin(), GlyphOf('\x7f').end(), GlyphOf('?').begin()));
  EXPECT_EQ(TextWidth("n/a", 2), (3 * kGlyphAdvance - 1) * 2);
}

}  // namespace
