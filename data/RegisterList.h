// Which registers a stream asks for. A choice is a set of catalogue
// registers (data/Registers.h); the request asks for them in catalogue
// order, the eighteen first, which fixes where each value sits in a frame.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/Registers.h"

struct RegisterList {
  std::array<uint8_t, kMaxFrameLength> entries{};  // catalogue indices, in request order
  int count = 0;
  bool operator==(const RegisterList&) const = default;

  uint8_t Number(int i) const { return kCatalogue[entries[static_cast<size_t>(i)]].number; }
  RegisterMask Mask() const;
  // Exactly the eighteen, in their order: frames and records as of old.
  bool IsEighteen() const { return Mask() == kEighteenMask; }
};

int RegisterCount(RegisterMask mask);
// The registers of a mask in catalogue order; false (and list empty) when
// they are more than a frame carries or the mask is empty.
[[nodiscard]] bool MakeRegisterList(RegisterMask mask, RegisterList& list);
RegisterList EighteenRegisters();

// Frames a second at 9600 baud (ten bits a byte) for a frame of n data
// bytes: FF, the count, the values.
double FramesPerSecond(int dataBytes);

// The unit of the value a register belongs to ("rpm", "deg C"), "bits" for
// a bit bank.
const char* RegisterUnit(int catalogueIndex);

// "17 (AAC valve)"; for several, comma separated.
std::string RegisterLabel(int catalogueIndex);
std::string RegisterLabels(RegisterMask mask);
// The hex numbers, comma separated: "00,01,04" (how tcon.ini and the log
// files keep a choice).
std::string RegisterNumbers(RegisterMask mask);

// A list as a user writes it: comma separated register numbers in hex
// ("11", "0x11"), catalogue names ("intake air temperature") or value keys
// ("rpm": both its bytes, "intaketemp"). false with a one-line reason for
// an unknown name, an empty list or one over the frame budget.
[[nodiscard]] bool ParseRegisters(std::string_view text, RegisterMask& mask, std::string& error);
