// The one recorder state that every thread of the program shares.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "data/SampleCell.h"
#include "data/WakeFlag.h"

// Flags keep the meaning of the original 32-bit fields; they are atomics
// because the receiver, clock and interface threads share them.
struct RecorderState {
  std::atomic<int32_t> liveMode{0};     // 1: record the stream; 0: play back
  std::atomic<int32_t> drag{0};         // 1 while the position bar is dragged
  std::atomic<int32_t> currentIndex{0}; // next record to store or fetch
  std::string logFileName = "0";        // interface thread only
  // What a log file says of the recording beyond its records (interface
  // thread only): the ECU's part number ("" when unknown), when the
  // recording began (milliseconds since 1970 UTC, 0 when unknown) and the
  // registers asked for (0: the eighteen).
  std::string ecuPartNumber;
  int64_t startUtcMs = 0;
  uint64_t registersAsked = 0;
  std::atomic<int32_t> unsaved{0};
  std::atomic<uint32_t> recordCount{0};
  // The stream decoder overwrites bytes 0..18 at every complete frame
  // (register values of 255 included); playback stores whole records.
  SampleCell current;
  // Complete frames decoded so far; lets a reader tell a new sample from a
  // repeat of the same values.
  std::atomic<uint64_t> framesDecoded{0};
  // Stored to whenever the current sample changes (a complete frame, a
  // record played back or sought): the display sleeps on it and shows each
  // new sample the moment it comes.
  WakeFlag sampleChanged{0};
};
