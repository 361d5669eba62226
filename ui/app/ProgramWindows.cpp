#include "ui/app/ProgramWindows.h"

#include "ui/tools/DashWindow.h"
#include "ui/tools/MoreValuesWindow.h"
#include "ui/tools/PowerMeterWindow.h"
#include "ui/tools/RunCheckWindow.h"
#include "ui/tools/ScatterWindow.h"
#include "ui/tools/SubWindow.h"
#include "ui/tools/TableWindow.h"
#include "ui/tools/VideoWindow.h"
#include "ui_Consultmain.h"

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

  // The windows of the Setting and ECU Control menus' own commands: each
  // menu item shows its window, which acts only while the session allows.
  Ui::ConsultMainForm& form = *main->Form();
  auto report = [main](const CommandOutcome& outcome) { main->ShowOutcome(outcome); };
  windows.valueSettingWindow =
      std::make_unique<TValueSettingWindow>([main](const ValueSettings& settings) { main->ApplyValueSettings(settings); });
  windows.selfDiagnosisWindow = std::make_unique<TSelfDiagnosisWindow>(session, context.dialogs, report);
  windows.activeTestWindow = std::make_unique<TActiveTestWindow>(session, context.dialogs, report);
  windows.registersWindow = std::make_unique<TRegistersWindow>(session, context, report);
  windows.soundWindow = std::make_unique<TSoundWindow>(
      context.tone, [main](const SoundSettings& settings) { main->ApplySoundSettings(settings); });
  TValueSettingWindow* valueSetting = windows.valueSettingWindow.get();
  TSoundWindow* sound = windows.soundWindow.get();
  TSelfDiagnosisWindow* selfDiagnosis = windows.selfDiagnosisWindow.get();
  TActiveTestWindow* activeTest = windows.activeTestWindow.get();
  TRegistersWindow* registers = windows.registersWindow.get();
  form.ValSettingBtn->setEnabled(true);
  QObject::connect(form.ValSettingBtn, &QAction::triggered, valueSetting,
                   [main, valueSetting] { valueSetting->ShowWindow(main->ShownValueSettings()); });
  form.SoundBtn->setEnabled(true);
  QObject::connect(form.SoundBtn, &QAction::triggered, sound,
                   [main, sound] { sound->ShowWindow(main->ShownSoundSettings()); });
  QObject::connect(form.SelfDiagnosis1, &QAction::triggered, selfDiagnosis, &TSelfDiagnosisWindow::ShowWindow);
  QObject::connect(form.ActiveTest1, &QAction::triggered, activeTest, &TActiveTestWindow::ShowWindow);
  QObject::connect(form.Registers1, &QAction::triggered, registers, &TRegistersWindow::ShowWindow);
  QObject::connect(main, &TConsultMainForm::RegisterChoiceLoaded, registers, &TRegistersWindow::ShowSessionChoice);
  QObject::connect(selfDiagnosis, &TSelfDiagnosisWindow::EcuNumberRead, main, &TConsultMainForm::ShowEcuNumber);
  auto follow = [selfDiagnosis, activeTest, registers](const EnabledCommands& e) {
    selfDiagnosis->SetAllowed(e.selfDiagnosis);
    activeTest->SetAllowed(e.applyTest);
    registers->FollowSession();
  };
  QObject::connect(main, &TConsultMainForm::CommandsEnabled, selfDiagnosis, follow);
  follow(session.Enabled());

  // The Tool menu, in its order: a new tool window is one more line here.
  windows.recording = std::make_unique<RecordingModel>(session);
  windows.compared = std::make_unique<ComparedRecording>();
  RecordingModel& recording = *windows.recording;
  ComparedRecording& compared = *windows.compared;
  windows.tools.push_back(std::make_unique<TSubWindow>(recording, compared, context));
  windows.tools.push_back(std::make_unique<TRunCheckWindow>(recording, compared, 400));
  windows.tools.push_back(std::make_unique<TRunCheckWindow>(recording, compared, 1000));
  windows.tools.push_back(std::make_unique<TPowerMeterWindow>(recording, compared, context.settingsPath));
  windows.tools.push_back(std::make_unique<TScatterWindow>(recording));
  windows.tools.push_back(std::make_unique<TTableWindow>(recording, context));
  windows.tools.push_back(std::make_unique<TMoreValuesWindow>(session, recording));
  windows.tools.push_back(std::make_unique<TDashWindow>(session, context.settingsPath));
  windows.tools.push_back(std::make_unique<TVideoWindow>(session, recording, context));

  std::vector<ToolWindow*> tools;
  std::vector<QWidget*> toolWidgets;
  for (const std::unique_ptr<ToolWindow>& tool : windows.tools) {
    tools.push_back(tool.get());
    // The Dash shows the current sample alone: it needs no looks at the
    // recording, and shown all through a drive it should not quicken them.
    if (dynamic_cast<TDashWindow*>(tool.get()) == nullptr) toolWidgets.push_back(dynamic_cast<QWidget*>(tool.get()));
  }
  main->SetToolWindows(tools);
  windows.recordingWatch = std::make_unique<RecordingWatch>(recording);
  windows.recordingWatch->SetWindows(toolWidgets);
  QObject::connect(main, &TConsultMainForm::DisplayTicked, windows.recordingWatch.get(),
                   &RecordingWatch::DisplayTick);
  // The values beyond the main window's move with its own, at its pace.
  // A choice made or loaded while no reading runs changes what it lists.
  if (auto* moreValues = windows.Tool<TMoreValuesWindow>()) {
    QObject::connect(main, &TConsultMainForm::DisplayTicked, moreValues, &TMoreValuesWindow::ShowSample);
    QObject::connect(main, &TConsultMainForm::RegisterChoiceLoaded, moreValues, &TMoreValuesWindow::ShowSample);
    QObject::connect(registers, &TRegistersWindow::RegistersChosen, moreValues, &TMoreValuesWindow::ShowSample);
  }
  // The Dash too, and it follows the commands: a reading's start and end,
  // the line lost and found.
  if (auto* dash = windows.Tool<TDashWindow>()) {
    QObject::connect(main, &TConsultMainForm::DisplayTicked, dash, &TDashWindow::ShowSample);
    QObject::connect(main, &TConsultMainForm::CommandsEnabled, dash, &TDashWindow::FollowSession);
  }
  // The clip plays while the recording's playback does, and stops with it.
  if (auto* video = windows.Tool<TVideoWindow>())
    QObject::connect(main, &TConsultMainForm::CommandsEnabled, video, &TVideoWindow::FollowSession);
  return windows;
}
