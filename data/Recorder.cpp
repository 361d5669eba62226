#include "data/Recorder.h"

#include "data/RecordPeriod.h"

Result CreateLogMemory(LogMemory& memory) {
  return memory.CreateSection(kLogMemorySlot, kLogMemorySize);
}

namespace {

// The record must end before the recovery marker; worked out in 64 bits so
// that an index near 2^32 (a negative current index) fails, not aliases a
// low record.
bool IndexAccepted(uint32_t index) {
  return kLogHeaderSize + (static_cast<uint64_t>(index) + 1) * kSampleRecordSize <= kRecoveryMarkerOffset;
}

uint32_t RecordOffset(uint32_t index) {
  return kLogHeaderSize + static_cast<uint32_t>(kSampleRecordSize) * index;
}

static_assert(kLogHeaderSize + (static_cast<uint64_t>(kMaxRecordIndex) + 1) * kSampleRecordSize <=
                  kRecoveryMarkerOffset,
              "the log memory holds every record a recording may have");

}  // namespace

Result StoreRecord(LogMemory& memory, const SampleRecord& sample, uint32_t index) {
  if (!IndexAccepted(index)) return Result::kFailed;
  return memory.WriteBytes(sample.bytes.data(), kLogMemorySlot, RecordOffset(index),
                           kSampleRecordSize);
}

Result FetchRecord(LogMemory& memory, SampleRecord& destination, uint32_t index) {
  if (!IndexAccepted(index)) return Result::kFailed;
  return memory.ReadBytes(destination.bytes.data(), kLogMemorySlot, RecordOffset(index),
                          kSampleRecordSize);
}

std::string TimeReadout(int32_t index, TimeUnit unit) {
  const int64_t msec = RecordTimeMs(index);
  switch (unit) {
    case TimeUnit::Msec:
      return "Time : " + std::to_string(msec) + " [msec]";
    case TimeUnit::Sec:
      return "Time : " + std::to_string(msec / 1000) + " [sec]";
    case TimeUnit::Min:
      break;
  }
  return "Time : " + std::to_string(msec / 60000) + " [min]";
}

void RecorderStep(Recorder& recorder) {
  RecorderState& state = recorder.state;
  RecorderView* view = recorder.view;
  const int32_t i = state.currentIndex.load();

  if (view != nullptr) {
    // A later checked unit overwrites an earlier one.
    for (TimeUnit unit : {TimeUnit::Msec, TimeUnit::Sec, TimeUnit::Min})
      if (view->TimeUnitChecked(unit)) view->SetStatusText(TimeReadout(i, unit));
  }

  if (state.liveMode.load() != 0) {
    const uint64_t frames = state.framesDecoded.load();
    if (frames != recorder.framesSeen) {
      recorder.framesSeen = frames;
      recorder.stepsWithoutFrame = 0;
    } else if (recorder.stepsWithoutFrame < kStaleRecords) {
      ++recorder.stepsWithoutFrame;
    }
    const SampleRecord sample =
        recorder.stepsWithoutFrame >= kStaleRecords ? GapRecord() : state.current.Load();
    // A recording begins with the ECU's first frame: before it there is
    // nothing to record, and time 0 is when the values began.
    if (i == 0 && IsGap(sample)) return;
    // A failed store (no section) loses this sample only; the clock goes on.
    (void)StoreRecord(recorder.memory, sample, static_cast<uint32_t>(i));
    const int32_t next = i + 1;
    state.currentIndex.store(next);
    state.recordCount.store(static_cast<uint32_t>(next));
    // What a run that is killed now leaves for the next start to recover.
    // Its failure costs only the recovery of a later crash.
    (void)recorder.memory.WriteRecoveryMarker(kLogMemorySlot, static_cast<uint32_t>(next),
                                              state.unsaved.load() != 0);
    if (next > kMaxRecordIndex) {
      // The window runs the Stop command later, on its own thread. Clearing
      // the enable flag here, which is what Stop does first, makes the stop
      // take effect now: no further tick records while the effects queue.
      recorder.clockEnable.store(0);
      if (view != nullptr) {
        view->ClickStopButton();
        view->ShowMessage("Log Memory max\n", "Time Check");
        view->AddStatusLine("Log Memory max");
      }
    }
    return;
  }

  // Playback. A failed fetch leaves the current sample as it was.
  SampleRecord record = state.current.Load();
  if (FetchRecord(recorder.memory, record, static_cast<uint32_t>(i)) == Result::kOk) {
    state.current.Store(record);
    state.sampleChanged.store(i);
  }
  if (state.drag.load() == 0) {
    if (view != nullptr) view->SetPlayPosition(i);
    state.currentIndex.store(i + 1);
  }
  if (static_cast<uint32_t>(state.currentIndex.load()) + 1u > state.recordCount.load()) {
    state.currentIndex.store(0);
    // As above: the end of the recording stops playback at this tick, not
    // whenever the window gets round to its Stop command.
    recorder.clockEnable.store(0);
    if (view != nullptr) view->ClickStopButton();
  }
}

bool ConfirmUnsavedResult(RecorderState& state, RecorderView& view) {
  if (state.unsaved.load() == 0) return false;
  return !view.AskYesNo(
      "This result has not been saved.\n"
      "Do you keep operating?",
      "CHECK");
}
