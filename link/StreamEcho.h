// The ECU's echo of the stream request: for each register asked for, A5
// (the read command inverted) and the register's number, or A5 FE for a
// register the ECU lacks. An ECU that lacks one never sends the frame the
// program asked for, so the echo is where the refusal shows.
#pragma once

#include <cstdint>

#include "data/RegisterList.h"

class StreamEcho {
 public:
  StreamEcho() = default;
  explicit StreamEcho(const RegisterList& request) : request_(request) {}
  // Bytes of the line from the request on. Only pairs that answer the
  // register due next count, in request order: a stray A5 (a value of a
  // frame still on its way) is not taken for the echo.
  void Feed(const uint8_t* bytes, int count);
  // Every register of the request has been answered.
  bool Complete() const;
  // Bit i stands for the request's register i.
  uint32_t Refused() const { return refused_; }

 private:
  RegisterList request_ = EighteenRegisters();
  int answered_ = 0;
  bool afterCommand_ = false;
  uint32_t refused_ = 0;
};
