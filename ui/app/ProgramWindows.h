// The four windows of the program, each created once, in this order, and
// the help window and the Tool menu's windows after them.
#pragma once

#include <memory>

#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/Comset.h"
#include "ui/main/Consultmain.h"
#include "ui/dialogs/ExportDlg.h"
#include "ui/dialogs/HelpWindow.h"
#include "control/ProgramInstances.h"
#include "ui/tools/PowerMeterWindow.h"
#include "ui/tools/RunCheckWindow.h"
#include "ui/tools/SubWindow.h"
#include "ui/app/WindowContext.h"

struct ProgramWindows {
  // Destroyed in reverse order: the secondary windows before the main one,
  // which reads them only while it closes.
  std::unique_ptr<TConsultMainForm> consultMainForm;
  std::unique_ptr<TCom_set_Form> comSetForm;
  std::unique_ptr<TExportDlg> exportDlg;
  std::unique_ptr<TAboutBox> aboutBox;
  std::unique_ptr<THelpWindow> helpWindow;
  // The Tool menu's windows read the main window, so they go before it.
  std::unique_ptr<TSubWindow> subWindow;
  std::unique_ptr<TRunCheckWindow> check400;
  std::unique_ptr<TRunCheckWindow> check1000;
  std::unique_ptr<TPowerMeterWindow> powerMeter;
};

// Each window's creation handler runs before the next window exists. The
// main window is shown; the others stay hidden until asked for.
ProgramWindows CreateProgramWindows(const ProgramInstances& instances,
                                    const WindowContext& context);
