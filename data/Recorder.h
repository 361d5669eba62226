// The recorder: storing and fetching records, the work of one clock tick,
// and the question asked before an unsaved recording is lost.
#pragma once

#include <cstdint>
#include <string>

#include "data/Memmap.h"
#include "data/Result.h"
#include "data/SampleRecord.h"
#include "data/WakeFlag.h"

constexpr int32_t kMaxRecordIndex = 900000;      // the last record a recording holds
constexpr uint32_t kLogHeaderSize = 40;
// A sample no frame has renewed for this many records is no longer the
// engine's: a live step records a gap instead. Frames come every 3 to 23 ms
// (1 to 20 data bytes at 9600 baud), and the echo of a request sent anew
// (an active test) holds them up some 60 ms; a line that brings nothing for
// longer has lost the engine, whether or not it is found lost yet.
constexpr int32_t kStaleRecords = 20;  // 200 ms

enum class TimeUnit { Msec, Sec, Min };

// What a recorder step and the unsaved question need of the main window.
// The window applies every effect on its own thread, in the order made;
// until it exists, or without one (the command-line tool), another
// implementation stands in.
class RecorderView {
 public:
  virtual ~RecorderView() = default;
  virtual bool TimeUnitChecked(TimeUnit unit) = 0;  // may be asked from any thread
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetPlayPosition(int32_t position) = 0;
  virtual void ClickStopButton() = 0;
  // Information box with an OK button; the next effect follows its dismissal.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  virtual void AddStatusLine(const std::string& line) = 0;
  // The link changed by itself (a line lost or back): what the window
  // offers and its lamps follow. From any thread.
  virtual void LinkChanged() {}
  // Yes/No question box; true when answered Yes. Interface thread only.
  virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
};

// Everything a step touches. `clockEnable` is the recording clock's enable
// flag; a step that stops the recording stores 0 into it, which parks the
// clock at once.
struct Recorder {
  RecorderState& state;
  LogMemory& memory;
  WakeFlag& clockEnable;
  RecorderView* view = nullptr;  // may be null: data effects do not depend on it
  // The steps' own (one clock at a time): the frame count at the last live
  // step, and the steps since it changed.
  uint64_t framesSeen = 0;
  int32_t stepsWithoutFrame = 0;
};

// Result::kFailed when the section is missing or the index lies beyond
// what a recording may hold.
Result CreateLogMemory(LogMemory& memory);
Result StoreRecord(LogMemory& memory, const SampleRecord& sample, uint32_t index);
Result FetchRecord(LogMemory& memory, SampleRecord& destination, uint32_t index);

// The work of one clock tick (or of one seek while the bar is dragged).
void RecorderStep(Recorder& recorder);

// The readout text of index i in a unit: "Time : 59990 [msec]".
std::string TimeReadout(int32_t index, TimeUnit unit);

// True means abort: the recording is unsaved and the user answered No.
[[nodiscard]] bool ConfirmUnsavedResult(RecorderState& state, RecorderView& view);
