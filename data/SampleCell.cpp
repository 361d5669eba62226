#include "data/SampleCell.h"

#include <cstring>

// Classic sequence lock: an odd sequence means a write is in progress. The
// payload lives in atomics so that the optimistic read is not a data race.
// Payload stores are release and payload loads acquire: a reader that sees
// any byte of a new write therefore also sees the odd sequence that began
// it, and its re-check of the sequence cannot move ahead of the payload.
// (No stand-alone fences: ThreadSanitizer cannot follow those.)

SampleRecord SampleCell::Load() const {
  uint32_t version = 0;
  return Load(version);
}

SampleRecord SampleCell::Load(uint32_t& version) const {
  SampleRecord out;
  uint32_t words[kWords];
  for (;;) {
    const uint32_t before = sequence_.load(std::memory_order_acquire);
    if (before & 1u) continue;  // a writer is halfway through
    for (int i = 0; i < kWords; ++i) words[i] = words_[i].load(std::memory_order_acquire);
    if (sequence_.load(std::memory_order_relaxed) == before) {
      version = before;
      break;
    }
  }
  std::memcpy(out.bytes.data(), words, sizeof words);
  return out;
}

void SampleCell::StoreBytes(int first, const uint8_t* bytes, int count) {
  // Take the write side: move the sequence from even to odd. Writers are
  // rare (one frame every 20 ms), so spinning here is never long.
  uint32_t seq = sequence_.load(std::memory_order_relaxed);
  for (;;) {
    if ((seq & 1u) == 0 &&
        sequence_.compare_exchange_weak(seq, seq + 1, std::memory_order_acquire,
                                        std::memory_order_relaxed))
      break;
    seq = sequence_.load(std::memory_order_relaxed);
  }

  uint32_t words[kWords];
  for (int i = 0; i < kWords; ++i) words[i] = words_[i].load(std::memory_order_relaxed);
  std::memcpy(reinterpret_cast<uint8_t*>(words) + first, bytes, static_cast<size_t>(count));
  for (int i = 0; i < kWords; ++i) words_[i].store(words[i], std::memory_order_release);

  sequence_.store(seq + 2, std::memory_order_release);
}

void SampleCell::Store(const SampleRecord& record) {
  StoreBytes(0, record.bytes.data(), kSampleRecordSize);
}
