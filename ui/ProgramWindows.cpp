#include "ui/ProgramWindows.h"

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
  return windows;
}
