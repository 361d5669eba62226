// The current sample: written by the stream decoder (a frame at a time) and
// by playback, read by the recording clock and the display.
#pragma once

#include <atomic>
#include <cstdint>

#include "data/Registers.h"

// A sequence lock guarantees that a reader always gets the bytes of one
// whole write, never a mix of two frames; readers never block a writer.
// Concurrent writers are serialised.
class SampleCell {
 public:
  SampleRecord Load() const;
  // The same, with the version of what was read: it changes with every
  // store, so a reader can tell a new sample from one it has seen.
  SampleRecord Load(uint32_t& version) const;
  void Store(const SampleRecord& record);
  // Writes only bytes [first, first + count), keeping the others (the decoder
  // writes bytes 0..18 and leaves the spare byte alone).
  void StoreBytes(int first, const uint8_t* bytes, int count);

 private:
  static constexpr int kWords = kSampleRecordSize / 4;
  static_assert(kWords * 4 == kSampleRecordSize, "the cell holds a record in whole words");
  mutable std::atomic<uint32_t> sequence_{0};
  std::atomic<uint32_t> words_[kWords]{};
};
