// Helpers shared by the data tests: file bytes, and a window stand-in that
// keeps every effect in order.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "data/Recorder.h"
#include "tests/common/TempDir.h"
#include "tests/common/WaitFor.h"

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// True when /dev/shm holds an object of that shm name ("/.MMF1").
bool ShmExists(const std::string& name);

// The window as a recorder sees it. Every effect is appended to `effects`
// as one text ("status:...", "position:3", "stop", "message:...|caption",
// "line:..."); the Stop command clears the clock's enable flag, as the
// window's does at once. The status line the window's Stop then adds is its
// own, and the window tests check it.
class RecordingView : public RecorderView {
 public:
  explicit RecordingView(WakeFlag* clockEnable = nullptr) : clockEnable_(clockEnable) {}

  bool TimeUnitChecked(TimeUnit unit) override;
  void SetStatusText(const std::string& text) override;
  void SetPlayPosition(int32_t position) override;
  void ClickStopButton() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void AddStatusLine(const std::string& line) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;

  std::vector<std::string> Effects() const;
  std::string LastStatusText() const;
  int StatusTextCount() const;

  std::vector<TimeUnit> checkedUnits{TimeUnit::Msec};
  bool answerYes = true;
  std::vector<std::string> questions;  // "text|caption"
  bool keepStatusTexts = true;  // off for long recordings: only the last is kept

 private:
  WakeFlag* clockEnable_;
  mutable std::mutex lock_;
  std::vector<std::string> effects_;
  std::string lastStatus_;
  int statusCount_ = 0;
};

// A record with a recognisable pattern for index n.
SampleRecord PatternRecord(uint32_t n);
