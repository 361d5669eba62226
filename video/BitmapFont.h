// A small fixed font for printable ASCII, built in: the gauges on a video
// must come out the same pixels in the window, the command-line tool and
// the tests, whatever fonts the machine has. Each glyph is 5 x 8 pixels,
// drawn scaled by whole pixels so that it stays sharp at any frame size.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 8;   // the capitals' seven rows and one for tails
constexpr int kCapHeight = 7;
constexpr int kGlyphAdvance = 6;  // one blank column between characters

// The rows of a character's glyph, top first, bit 4 the leftmost pixel;
// anything outside printable ASCII shows as '?'.
std::span<const uint8_t, kGlyphHeight> GlyphOf(char c);
// Pixels from the first character's left edge to the last one's right.
int TextWidth(std::string_view text, int scale);
