#include "ui/app/ProgramWindows.h"

#include "ui/tools/PowerMeterWindow.h"
#include "ui/tools/RunCheckWindow.h"
#include "ui/tools/SubWindow.h"

ProgramWindows CreateProgramWindows(Session& session, const WindowContext& context) {
  // The pictures live in the window library, which is linked statically:
  // this keeps its resources in whatever program links it.
  Q_INIT_RESOURCE(torvane);
  Q_INIT_RESOURCE(guide);
  ProgramWindows windows;
  windows.consultMainForm = std::make_unique<TConsultMainForm>(session, context);
  TConsultMainForm* main = windows.consultMainForm.get();
  windows.comSetForm = std::make_unique<TCom_set_Form>(
      main, [&session] { return session.FindCable(); }, context);
  windows.exportDlg = std::make_unique<TExportDlg>(main, session, context);
  windows.aboutBox = std::make_unique<TAboutBox>();
  windows.helpWindow = std::make_unique<THelpWindow>();
  main->SetSecondaryWindows(windows.comSetForm.get(), windows.exportDlg.get(),
                            windows.aboutBox.get(), windows.helpWindow.get());

  windows.valueSettingWindow =
      std::make_unique<TValueSettingWindow>([main](const ValueSettings& settings) { main->ApplyValueSettings(settings); });
  main->SetValueSettingWindow(windows.valueSettingWindow.get());

  // The ECU Control menu's windows report to the main window's status list.
  windows.selfDiagnosisWindow = std::make_unique<TSelfDiagnosisWindow>(
      session, context.dialogs, [main](const CommandOutcome& outcome) { main->ShowOutcome(outcome); });
  QObject::connect(windows.selfDiagnosisWindow.get(), &TSelfDiagnosisWindow::EcuNumberRead, main,
                   &TConsultMainForm::ShowEcuNumber);
  windows.activeTestWindow = std::make_unique<TActiveTestWindow>(
      session, context.dialogs, [main](const CommandOutcome& outcome) { main->ShowOutcome(outcome); });
  main->SetEcuWindows(windows.selfDiagnosisWindow.get(), windows.activeTestWindow.get());

  // The Tool menu, in its order: a new tool window is one more line here.
  windows.recording = std::make_unique<RecordingModel>(session);
  RecordingModel& recording = *windows.recording;
  windows.tools.push_back(std::make_unique<TSubWindow>(recording, context.settingsPath));
  windows.tools.push_back(std::make_unique<TRunCheckWindow>(recording, 400));
  windows.tools.push_back(std::make_unique<TRunCheckWindow>(recording, 1000));
  windows.tools.push_back(std::make_unique<TPowerMeterWindow>(recording, context.settingsPath));

  std::vector<ToolWindow*> tools;
  std::vector<QWidget*> toolWidgets;
  for (const std::unique_ptr<ToolWindow>& tool : windows.tools) {
    tools.push_back(tool.get());
    toolWidgets.push_back(dynamic_cast<QWidget*>(tool.get()));
  }
  main->SetToolWindows(tools);
  windows.recordingWatch = std::make_unique<RecordingWatch>(recording);
  windows.recordingWatch->SetWindows(toolWidgets);
  QObject::connect(main, &TConsultMainForm::DisplayTicked, windows.recordingWatch.get(),
                   &RecordingWatch::DisplayTick);
  return windows;
}
