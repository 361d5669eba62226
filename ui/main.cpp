// The program entry: the program-wide instances exist already (see
// ProgramInstances.cpp); here the application, its windows and the
// message loop come into being.
#include <QApplication>

#include <exception>

#include "ui/ProgramInstances.h"
#include "ui/ProgramWindows.h"
#include "ui/Settings.h"
#include "ui/UserDialogs.h"

namespace {

const char kTitle[] = "Nissan Torvane";

void ShowErrorBox(const char* message) { Dialogs().Error(nullptr, message, kTitle); }

// An error escaping an event handler is shown, and the program goes on.
class TorvaneApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      ShowErrorBox(error.what());
    } catch (...) {
      ShowErrorBox("");
    }
    return false;
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  TorvaneApplication application(argc, argv);
  try {
    QApplication::setApplicationDisplayName(kTitle);
    QApplication::setQuitOnLastWindowClosed(false);
    InstallFontSubstitutes();
    ProgramWindows windows = CreateProgramWindows(TheProgramInstances());
    QObject::connect(windows.consultMainForm.get(), &TConsultMainForm::Closed, &application,
                     &QApplication::quit, Qt::QueuedConnection);
    windows.consultMainForm->show();
    QApplication::exec();
  } catch (const std::exception& error) {
    ShowErrorBox(error.what());
  } catch (...) {
    ShowErrorBox("");
  }
  return 0;
}
