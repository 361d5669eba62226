#include "ui/app/ProgramWindows.h"

ProgramWindows CreateProgramWindows(const ProgramInstances& instances,
                                    const WindowContext& context) {
  // The pictures live in the window library, which is linked statically:
  // this keeps its resources in whatever program links it.
  Q_INIT_RESOURCE(torvane);
  Q_INIT_RESOURCE(guide);
  ProgramWindows windows;
  windows.consultMainForm = std::make_unique<TConsultMainForm>(instances, context);
  ConsultSession& session = instances.consultSession;
  windows.comSetForm = std::make_unique<TCom_set_Form>(
      windows.consultMainForm.get(), [&session] { return session.FindCable(); }, context);
  windows.exportDlg =
      std::make_unique<TExportDlg>(windows.consultMainForm.get(), instances, context);
  windows.aboutBox = std::make_unique<TAboutBox>();
  windows.helpWindow = std::make_unique<THelpWindow>();
  windows.consultMainForm->SetSecondaryWindows(windows.comSetForm.get(), windows.exportDlg.get(),
                                               windows.aboutBox.get(), windows.helpWindow.get());
  windows.subWindow = std::make_unique<TSubWindow>(*windows.consultMainForm, instances);
  windows.check400 = std::make_unique<TRunCheckWindow>(*windows.consultMainForm, instances, 400);
  windows.check1000 = std::make_unique<TRunCheckWindow>(*windows.consultMainForm, instances, 1000);
  windows.powerMeter = std::make_unique<TPowerMeterWindow>(*windows.consultMainForm, instances);
  ToolWindows tools;
  tools.subWindow = windows.subWindow.get();
  tools.check400 = windows.check400.get();
  tools.check1000 = windows.check1000.get();
  tools.powerMeter = windows.powerMeter.get();
  windows.consultMainForm->SetToolWindows(tools);
  return windows;
}
