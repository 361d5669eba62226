// What the recorder would show in the main window, for a run without one:
// the time readout in milliseconds, status lines on standard error, and the
// Stop command as a request the command loop acts on.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "data/Recorder.h"
#include "data/WakeFlag.h"

class CliRecorderView : public RecorderView {
 public:
  explicit CliRecorderView(WakeFlag& clockEnable) : clockEnable_(clockEnable) {}

  bool TimeUnitChecked(TimeUnit unit) override { return unit == TimeUnit::Msec; }
  void SetStatusText(const std::string&) override {}  // progress is printed by the loop
  void SetPlayPosition(int32_t) override {}
  // The data part of the Stop command happens at once, on the clock's
  // thread, so no tick stores after it; the loop sends the stop byte.
  void ClickStopButton() override {
    clockEnable_.store(0);
    stopRequested.store(true);
  }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    std::string line = text;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), line.c_str());
  }
  void AddStatusLine(const std::string& line) override {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  // Nothing to ask without a user: a fresh process has nothing unsaved.
  bool AskYesNo(const std::string&, const std::string&) override { return true; }

  std::atomic<bool> stopRequested{false};

 private:
  WakeFlag& clockEnable_;
};
