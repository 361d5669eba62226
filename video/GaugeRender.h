// The engine's values drawn onto a video frame: a strip of up to six
// gauges along the bottom, each a caption, the number with its unit and a
// bar, on a semi-transparent dark panel so that the picture still shows
// through. Drawn in software with the built-in font, so every frame comes
// out the same to the pixel wherever it is drawn: the Video window, the
// written video and the tests that compare the two.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// A frame's pixels as R, G, B, A bytes, row after row; a row may be
// followed by padding (stride is the bytes from one row to the next).
struct Canvas {
  uint8_t* rgba;
  int width;
  int height;
  int stride;
};

// One value as it is to be shown. text is what the main window would show
// ("3412"), or "n/a" when the recording does not hold the value then;
// fraction places the bar between the value's range ends (0 to 1).
struct Gauge {
  std::string name;
  std::string unit;
  std::string text;
  double fraction = 0;
  bool missing = false;
};

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const PixelRect&) const = default;
};

constexpr int kMaxGauges = 6;

// Where the gauges go on a frame of a given size. Everything scales with
// the frame's smaller side relative to 640 x 360, in whole font pixels, so
// that the strip reads the same on a phone clip and a 4K one.
struct GaugeLayout {
  PixelRect panel;     // the dark strip the gauges share
  int count = 0;       // gauges placed, side by side
  int padding = 0;     // inside a gauge, around what it shows
  int nameScale = 1;   // the caption and unit: one font pixel is scale x scale
  int valueScale = 1;  // the number, narrower where six gauges share a small frame
  int barHeight = 0;
};

// count is clamped to 0..kMaxGauges.
GaugeLayout StripLayout(int frameWidth, int frameHeight, int count);
// The area gauge i covers: nothing of it is drawn outside.
PixelRect GaugeRect(const GaugeLayout& layout, int i);
// Draws the panel and the first layout.count gauges (fewer when fewer are
// given). Whatever falls outside the canvas is left out.
void DrawGauges(Canvas& canvas, const GaugeLayout& layout, std::span<const Gauge> gauges);
