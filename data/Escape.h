// Text that came from outside (a file's bytes, a file name, a settings
// value, a device's strings), made safe to quote in a message: a terminal
// must never receive its control sequences, and a damaged byte must show as
// what it is. Control characters, DEL, the C1 controls and bytes that are
// not well-formed UTF-8 become \xNN, and a backslash becomes \\ so that the
// escape is never ambiguous. Printable ASCII and well-formed UTF-8 letters
// (a file name in the user's own language) stay as they are.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// The length of the well-formed UTF-8 sequence of a printable code point
// (U+00A0 and above) at text[at], or 0 when there is none.
inline size_t PrintableUtf8Length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned long point = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0u) != 0x80u) return 0;
    point = (point << 6) | (byte(at + i) & 0x3Fu);
  }
  // Overlong forms, surrogates, beyond U+10FFFF and the C1 controls.
  static constexpr unsigned long kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kSmallest[length] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF ||
      point < 0xA0)
    return 0;
  return length;
}

inline std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c == '\\') {
      out += "\\\\";
      at += 1;
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      at += 1;
    } else if (const size_t length = PrintableUtf8Length(text, at); length > 0) {
      out.append(text, at, length);
      at += length;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
      at += 1;
    }
  }
  return out;
}
