// The windows of the program, each created once, in this order: the main
// window, the COM port dialog, the export dialog and the About box, then
// the help window, the windows of the ECU Control menu, and the Tool menu's
// windows over the one recording model.
#pragma once

#include <memory>
#include <vector>

#include "control/ComparedRecording.h"
#include "control/RecordingModel.h"
#include "control/Session.h"
#include "ui/app/WindowContext.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/Comset.h"
#include "ui/dialogs/ExportDlg.h"
#include "ui/dialogs/HelpWindow.h"
#include "ui/dialogs/SoundWindow.h"
#include "ui/dialogs/ValueSettingWindow.h"
#include "ui/ecu/ActiveTestWindow.h"
#include "ui/ecu/RegistersWindow.h"
#include "ui/ecu/SelfDiagnosisWindow.h"
#include "ui/main/Consultmain.h"
#include "ui/tools/RecordingWatch.h"
#include "ui/tools/ToolWindow.h"

struct ProgramWindows {
  ProgramWindows() = default;
  ProgramWindows(ProgramWindows&&) = default;
  // The windows held before go first, in the order Close takes.
  ProgramWindows& operator=(ProgramWindows&& other) noexcept {
    Close();
    consultMainForm = std::move(other.consultMainForm);
    comSetForm = std::move(other.comSetForm);
    exportDlg = std::move(other.exportDlg);
    aboutBox = std::move(other.aboutBox);
    helpWindow = std::move(other.helpWindow);
    selfDiagnosisWindow = std::move(other.selfDiagnosisWindow);
    activeTestWindow = std::move(other.activeTestWindow);
    registersWindow = std::move(other.registersWindow);
    valueSettingWindow = std::move(other.valueSettingWindow);
    soundWindow = std::move(other.soundWindow);
    recording = std::move(other.recording);
    compared = std::move(other.compared);
    recordingWatch = std::move(other.recordingWatch);
    tools = std::move(other.tools);
    return *this;
  }
  ~ProgramWindows() { Close(); }

  // Destroys the windows in reverse order of creation: the pace of the Tool
  // menu's windows, the windows, then the model they follow; the secondary
  // windows before the main one, which reads them only while it closes.
  void Close() {
    recordingWatch.reset();
    tools.clear();
    compared.reset();
    recording.reset();
    soundWindow.reset();
    valueSettingWindow.reset();
    registersWindow.reset();
    activeTestWindow.reset();
    selfDiagnosisWindow.reset();
    helpWindow.reset();
    aboutBox.reset();
    exportDlg.reset();
    comSetForm.reset();
    consultMainForm.reset();
  }

  // The tool window of a kind, the first in the list; null when none is.
  template <class Window>
  Window* Tool() const {
    for (const std::unique_ptr<ToolWindow>& tool : tools)
      if (auto* window = dynamic_cast<Window*>(tool.get())) return window;
    return nullptr;
  }

  std::unique_ptr<TConsultMainForm> consultMainForm;
  std::unique_ptr<TCom_set_Form> comSetForm;
  std::unique_ptr<TExportDlg> exportDlg;
  std::unique_ptr<TAboutBox> aboutBox;
  std::unique_ptr<THelpWindow> helpWindow;
  std::unique_ptr<TSelfDiagnosisWindow> selfDiagnosisWindow;
  std::unique_ptr<TActiveTestWindow> activeTestWindow;
  std::unique_ptr<TRegistersWindow> registersWindow;
  std::unique_ptr<TValueSettingWindow> valueSettingWindow;
  std::unique_ptr<TSoundWindow> soundWindow;
  std::unique_ptr<RecordingModel> recording;
  std::unique_ptr<ComparedRecording> compared;  // a second recording beside it
  std::unique_ptr<RecordingWatch> recordingWatch;
  std::vector<std::unique_ptr<ToolWindow>> tools;
};

// Each window's creation handler runs before the next window exists. The
// main window is shown; the others stay hidden until asked for.
ProgramWindows CreateProgramWindows(Session& session, const WindowContext& context);
