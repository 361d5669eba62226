// The program entry: the program-wide objects exist already (see
// ProgramObjects.cpp); here the command line is read, and the application,
// its windows and the message loop come into being.
#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "control/ProgramObjects.h"
#include "data/Escape.h"
#include "link/SerialPort.h"
#include "ui/app/ProgramWindows.h"
#include "ui/app/Settings.h"
#include "ui/app/TerminationSignals.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/main/WarningTone.h"
#include "ui/tools/DashWindow.h"
#include "ui/widgets/Placement.h"

namespace {

const char kTitle[] = "Nissan Torvane";

const char kUsage[] =
    "usage: torvane [--map COMn=PATH]... [--port COMn] [--dash [--fullscreen]]\n"
    "  --map COMn=PATH   COMn is the device PATH for this run only (the settings\n"
    "                    file's [Ports] section is left as it is); may be repeated\n"
    "  --port COMn       start with COMn chosen in the COM port dialog\n"
    "  --dash            open the Dash (Tool > Dash) at start, run the ECU Auto\n"
    "                    Search and, when it finds the ECU, start reading\n"
    "  --fullscreen      with --dash: show the Dash full screen (F11 leaves it)\n";

struct Arguments {
  std::vector<std::pair<int32_t, std::string>> maps;
  int32_t port = 0;  // 0: as the settings file says
  bool dash = false;
  bool fullScreen = false;
  bool help = false;
};

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
  void ShowErrorBox(const char* message) { dialogs.Error(nullptr, message, kTitle); }

  // The message boxes and file dialogs of the whole program.
  StandardDialogs dialogs;
};

// Qt's own options, which its application object takes out of the
// arguments: those that take a value, and those that take none.
bool QtOption(const std::string& arg, bool& takesValue) {
  static const char* const kWithValue[] = {
      "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
      "-qwindowicon", "-qwindowtitle", "-session", "-style", "-stylesheet", "-display",
      "-geometry", "-title", "-name"};
  static const char* const kAlone[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};
  takesValue = false;
  for (const char* option : kAlone)
    if (arg == option) return true;
  for (const char* option : kWithValue) {
    if (arg == option) return takesValue = true;
    if (arg.rfind(std::string(option) + "=", 0) == 0) return true;
  }
  return arg.rfind("-qmljsdebugger=", 0) == 0;
}

// The command line, read before the application object exists, so that
// --help and a mistake are answered on a console without a display. Qt's
// own options are left to it. False on anything else, with the reason
// printed.
bool ParseArguments(int argc, char** argv, Arguments& parsed) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool takesValue = false;
    if (QtOption(arg, takesValue)) {
      if (takesValue) ++i;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      return true;
    }
    if (arg == "--dash" || arg == "--fullscreen") {
      (arg == "--dash" ? parsed.dash : parsed.fullScreen) = true;
      continue;
    }
    if (arg == "--port" && i + 1 < argc) {
      parsed.port = PortNumberFromName(argv[++i]);
      if (parsed.port != 0) continue;
      std::fprintf(stderr, "torvane: --port needs COM1 to COM10\n");
      return false;
    }
    if (arg != "--map" || i + 1 >= argc) {
      std::fprintf(stderr, "torvane: unexpected argument %s\n", Escaped(arg).c_str());
      return false;
    }
    const std::string map = argv[++i];
    const size_t eq = map.find('=');
    const int32_t port = eq == std::string::npos ? 0 : PortNumberFromName(map.substr(0, eq));
    if (port == 0 || eq + 1 >= map.size()) {
      std::fprintf(stderr, "torvane: --map needs COMn=PATH with n from 1 to 10, not %s\n",
                   Escaped(map).c_str());
      return false;
    }
    parsed.maps.emplace_back(port, map.substr(eq + 1));
  }
  if (parsed.fullScreen && !parsed.dash) {
    std::fprintf(stderr, "torvane: --fullscreen goes with --dash\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  Arguments arguments;
  if (!ParseArguments(argc, argv, arguments)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (arguments.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  TorvaneApplication application(argc, argv);
  try {
    // No application display name: Qt would append it to the title of every
    // other window, and each window's title is its own ("COM Port", "CHECK").
    QGuiApplication::setDesktopFileName("com.varnok.Torvane");
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon::fromTheme("torvane", QIcon(":/torvane/icon.png")));
    InstallFontSubstitutes();
    ProgramObjects& program = TheProgram();
    const std::unique_ptr<WarningTone> tone = MakeSoundDeviceTone();  // outlives the windows
    const WindowContext context{SettingsPath(), application.dialogs, tone.get()};
    ProgramWindows windows = CreateProgramWindows(program.session, context);
    // After the settings file's [Ports]: the command line has the last word.
    for (const auto& [port, path] : arguments.maps) program.serialPort.SetDevicePath(port, path);
    if (arguments.port != 0) windows.comSetForm->SelectPortForThisRun(arguments.port);
    QObject::connect(windows.consultMainForm.get(), &TConsultMainForm::Closed, &application,
                     &QApplication::quit, Qt::QueuedConnection);
    CloseOnTerminationSignals(windows.consultMainForm.get());
    ShowInFront(*windows.consultMainForm);
    if (arguments.dash) {
      TDashWindow* dash = windows.Tool<TDashWindow>();
      dash->ShowWindow();
      if (arguments.fullScreen) dash->showFullScreen();
      // Once the windows are on the screen: the search takes a second or so.
      // Its box comes up over the main window; the Dash is in front again after.
      TConsultMainForm* mainForm = windows.consultMainForm.get();
      QTimer::singleShot(0, mainForm, [mainForm, dash] {
        StartReadingFromDash(*mainForm);
        dash->ShowWindow();
      });
    }
    QApplication::exec();
    windows.Close();
    // The receiver reads the Consult session and the recorder defined after
    // it: it must have ended before they go.
    program.StopAndJoinReceiver();
  } catch (const std::exception& error) {
    application.ShowErrorBox(error.what());
  } catch (...) {
    application.ShowErrorBox("");
  }
  return 0;
}
