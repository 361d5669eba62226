#include "ui/tools/RecordingMirror.h"

#include <algorithm>

#include "data/Recorder.h"

bool RecordingMirror::LiveNow() const {
  return instances_.recorderState.liveMode.load() == 1 &&
         instances_.recordingClock.enable.load() != 0;
}

bool RecordingMirror::ReadRange(uint32_t first, uint32_t count, std::vector<SampleRecord>& into) {
  const size_t start = into.size();
  into.resize(start + count);
  if (count == 0) return true;
  // One transfer for the whole range: SampleRecord is its 20 bytes and nothing else.
  static_assert(sizeof(SampleRecord) == kSampleRecordSize);
  const bool ok = instances_.logMemory.ReadBytes(into.data() + start, kLogMemorySlot,
                                                 kLogHeaderSize + kSampleRecordSize * first,
                                                 kSampleRecordSize * count) == Result::kOk;
  if (!ok) into.resize(start);
  return ok;
}

// A few records spread over the copy, compared with the memory: a file
// loaded over a recording of the same length shows as a difference here.
bool RecordingMirror::SameAsMemory() {
  if (records_.empty()) return true;
  const size_t n = records_.size();
  constexpr size_t kProbes = 8;
  for (size_t p = 0; p < kProbes; ++p) {
    const size_t i = p == kProbes - 1 ? n - 1 : n * p / kProbes;
    SampleRecord probe;
    if (FetchRecord(instances_.logMemory, probe, static_cast<uint32_t>(i)) != Result::kOk) return false;
    if (probe != records_[i]) return false;
  }
  return true;
}

RecordingMirror::Change RecordingMirror::Update() {
  const bool liveNow = LiveNow();
  const uint32_t count = std::min<uint32_t>(instances_.recorderState.recordCount.load(),
                                            static_cast<uint32_t>(kMaxRecordIndex) + 1);
  // A live recording starts again at record 0; so does a loaded file.
  const bool startedLive = liveNow && !live_;
  live_ = liveNow;
  const size_t have = records_.size();
  if (everRead_ && !startedLive && count >= have) {
    // The records already copied are never rewritten while a recording
    // grows; a stopped one is checked for a file loaded over it.
    if (liveNow || SameAsMemory()) {
      if (count == have) return Change::None;
      if (!ReadRange(static_cast<uint32_t>(have), count - static_cast<uint32_t>(have), records_))
        return Change::None;
      return Change::Appended;
    }
  }
  everRead_ = true;
  records_.clear();
  // While a new live recording begins, its first records may not all be in
  // yet; what is there is read, and the rest arrives as appended records.
  if (!ReadRange(0, count, records_)) records_.clear();
  return Change::Replaced;
}
