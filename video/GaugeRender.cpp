#include "video/GaugeRender.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string_view>

#include "video/BitmapFont.h"

namespace {

struct Colour {
  uint8_t r, g, b, a;
};

// Dark enough under white digits on a sunlit track, light enough that the
// road still shows through.
constexpr Colour kPanel{0, 0, 0, 170};
constexpr Colour kCaption{200, 200, 200, 255};
constexpr Colour kValue{255, 255, 255, 255};
constexpr Colour kMissing{150, 150, 150, 255};
constexpr Colour kBarTrack{90, 90, 90, 200};
constexpr Colour kBarFill{255, 176, 0, 255};

// The widest a value and its unit come: "20400" and "km/h". A wider unit
// ("deg BTDC") is cut at the gauge's edge rather than shrink every number.
constexpr std::string_view kWidestValue = "88888";
constexpr std::string_view kWidestUnit = "km/h";

PixelRect Intersect(const PixelRect& a, const PixelRect& b) {
  const int left = std::max(a.x, b.x);
  const int top = std::max(a.y, b.y);
  const int right = std::min(a.x + a.width, b.x + b.width);
  const int bottom = std::min(a.y + a.height, b.y + b.height);
  return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

uint8_t Blend(int over, int under, int alpha) {
  return static_cast<uint8_t>((over * alpha + under * (255 - alpha) + 127) / 255);
}

// Paints colour over rect, only where it lies inside clip and the canvas.
void Fill(Canvas& canvas, PixelRect rect, const PixelRect& clip, Colour colour) {
  rect = Intersect(Intersect(rect, clip), {0, 0, canvas.width, canvas.height});
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    uint8_t* p = canvas.rgba + static_cast<ptrdiff_t>(y) * canvas.stride + static_cast<ptrdiff_t>(rect.x) * 4;
    for (int x = 0; x < rect.width; ++x, p += 4) {
      p[0] = Blend(colour.r, p[0], colour.a);
      p[1] = Blend(colour.g, p[1], colour.a);
      p[2] = Blend(colour.b, p[2], colour.a);
      p[3] = Blend(255, p[3], colour.a);
    }
  }
}

// The whole characters of text that fit in width: a half-drawn letter
// reads as another one.
std::string_view Fitting(std::string_view text, int scale, int width) {
  while (!text.empty() && TextWidth(text, scale) > width) text.remove_suffix(1);
  return text;
}

// Text from its top-left corner, each font pixel a scale x scale square,
// cut to the whole characters that fit in clip.
void DrawText(Canvas& canvas, std::string_view text, int x, int y, int scale, const PixelRect& clip,
              Colour colour) {
  for (char c : Fitting(text, scale, clip.x + clip.width - x)) {
    const auto glyph = GlyphOf(c);
    for (int row = 0; row < kGlyphHeight; ++row)
      for (int column = 0; column < kGlyphWidth; ++column)
        if ((glyph[static_cast<size_t>(row)] >> (kGlyphWidth - 1 - column) & 1) != 0)
          Fill(canvas, {x + column * scale, y + row * scale, scale, scale}, clip, colour);
    x += kGlyphAdvance * scale;
  }
}

int LineGap(const GaugeLayout& layout) { return std::max(1, layout.padding / 2); }

// Caption on top, the number with its unit under it, the bar at the bottom.
void DrawGauge(Canvas& canvas, const GaugeLayout& layout, const PixelRect& area, const Gauge& gauge) {
  const int pad = layout.padding;
  const PixelRect inner{area.x + pad, area.y + pad, area.width - 2 * pad, area.height - 2 * pad};
  int y = inner.y;
  DrawText(canvas, gauge.name, inner.x, y, layout.nameScale, inner, kCaption);
  y += kGlyphHeight * layout.nameScale + LineGap(layout);

  DrawText(canvas, gauge.text, inner.x, y, layout.valueScale, inner, gauge.missing ? kMissing : kValue);
  if (!gauge.missing) {
    // The unit stands on the number's baseline, one space after it.
    const int unitX = inner.x + TextWidth(gauge.text, layout.valueScale) + kGlyphAdvance * layout.nameScale;
    const int unitY = y + kCapHeight * (layout.valueScale - layout.nameScale);
    DrawText(canvas, gauge.unit, unitX, unitY, layout.nameScale, inner, kCaption);
  }
  y += kCapHeight * layout.valueScale + LineGap(layout);

  const PixelRect track{inner.x, y, inner.width, layout.barHeight};
  Fill(canvas, track, inner, kBarTrack);
  // A value the recording lacks has no bar: an empty track, never one
  // standing at a value that was not sent.
  if (gauge.missing) return;
  double fraction = gauge.fraction;
  if (!(fraction > 0)) fraction = 0;  // NaN too
  if (fraction > 1) fraction = 1;
  const int filled = static_cast<int>(std::lround(fraction * track.width));
  Fill(canvas, {track.x, track.y, filled, track.height}, inner, kBarFill);
}

}  // namespace

GaugeLayout StripLayout(int frameWidth, int frameHeight, int count) {
  GaugeLayout layout;
  layout.count = std::clamp(count, 0, kMaxGauges);
  frameWidth = std::max(0, frameWidth);
  frameHeight = std::max(0, frameHeight);
  const double base = std::min(frameWidth / 640.0, frameHeight / 360.0);
  const auto scaled = [base](double size, int least) {
    return std::max(least, static_cast<int>(std::lround(size * base)));
  };
  layout.padding = scaled(4, 2);
  layout.nameScale = scaled(1, 1);
  layout.barHeight = scaled(5, 2);

  // The number as large as the frame's size asks, but narrow enough that
  // the widest value and its unit fit a gauge when six share the width.
  const int inner = frameWidth / std::max(1, layout.count) - 2 * layout.padding;
  const int unitWidth = kGlyphAdvance * layout.nameScale + TextWidth(kWidestUnit, layout.nameScale);
  const int fitting = (inner - unitWidth) / TextWidth(kWidestValue, 1);
  layout.valueScale = std::max(1, std::min(scaled(3, 2), fitting));

  const int height = 2 * layout.padding + kGlyphHeight * layout.nameScale + 2 * LineGap(layout) +
                     kCapHeight * layout.valueScale + layout.barHeight;
  layout.panel = {0, std::max(0, frameHeight - height), frameWidth, std::min(height, frameHeight)};
  return layout;
}

PixelRect GaugeRect(const GaugeLayout& layout, int i) {
  if (i < 0 || i >= layout.count) return {};
  const PixelRect& panel = layout.panel;
  const int left = panel.x + panel.width * i / layout.count;
  const int right = panel.x + panel.width * (i + 1) / layout.count;
  return {left, panel.y, right - left, panel.height};
}

void DrawGauges(Canvas& canvas, const GaugeLayout& layout, std::span<const Gauge> gauges) {
  if (layout.count == 0 || canvas.rgba == nullptr) return;
  Fill(canvas, layout.panel, layout.panel, kPanel);
  const int shown = std::min(layout.count, static_cast<int>(gauges.size()));
  for (int i = 0; i < shown; ++i) DrawGauge(canvas, layout, GaugeRect(layout, i), gauges[static_cast<size_t>(i)]);
}
