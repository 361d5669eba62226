// The recorder's view for a benchmark that runs the session without a
// window: it shows nothing and answers every question Yes.
#pragma once

#include <string>

#include "data/Recorder.h"

namespace bench {

class QuietView : public RecorderView {
 public:
  bool TimeUnitChecked(TimeUnit) override { return false; }
  void SetStatusText(const std::string&) override {}
  void SetPlayPosition(int32_t) override {}
  void ClickStopButton() override {}
  void ShowMessage(const std::string&, const std::string&) override {}
  void AddStatusLine(const std::string&) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
};

}  // namespace bench
