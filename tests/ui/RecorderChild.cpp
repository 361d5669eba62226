// A program built as torvane is, for the recovery tests: its windows, its
// termination handling, a recording from the ECU on --port that goes on
// until the test kills it.
//
//   torvane_test_recorder --settings FILE --port PATH --shm-base NAME
//                         --records N --snapshot FILE [--save FILE]
//
// Once N records are in, it writes them to the snapshot file (after saving
// the recording to --save first, when given) and prints "ready".
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "control/ProgramObjects.h"
#include "ui/app/ProgramWindows.h"
#include "ui/app/TerminationSignals.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui_Consultmain.h"

namespace {

// Every question answered Yes, every file dialog with the --save name.
class Answers : public UserDialogs {
 public:
  QString file;
  bool Question(QWidget*, const QString&, const QString&) override { return true; }
  void Information(QWidget*, const QString&, const QString&) override {}
  void Warning(QWidget*, const QString&, const QString&) override {}
  void Error(QWidget*, const QString&, const QString&) override {}
  void Plain(QWidget*, const QString&, const QString&) override {}
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override {
    return file;
  }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&, bool) override {
    return file;
  }
};


}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  std::map<std::string, std::string> args;
  for (int i = 1; i + 1 < argc; i += 2) args[argv[i]] = argv[i + 1];
  const uint32_t records = static_cast<uint32_t>(std::atol(args["--records"].c_str()));

  Answers answers;
  answers.file = QString::fromStdString(args["--save"]);
  ProgramObjects instances(std::chrono::milliseconds(10), args["--shm-base"]);
  ProgramWindows windows =
      CreateProgramWindows(instances.session, WindowContext{args["--settings"], answers});
  TConsultMainForm& main = *windows.consultMainForm;
  QObject::connect(&main, &TConsultMainForm::Closed, &application, &QApplication::quit,
                   Qt::QueuedConnection);
  CloseOnTerminationSignals(&main);
  instances.serialPort.SetDevicePath(1, args["--port"]);
  windows.comSetForm->SelectPort(1);
  TConsultMainForm::ClickMenuItem(main.Form()->ECUOpen);
  TConsultMainForm::ClickMenuItem(main.Form()->ECUInit);
  main.Form()->StartButton->click();

  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (instances.recorderState.recordCount.load() < records) return;
    watch.stop();
    if (!answers.file.isEmpty()) {
      main.StopButtonClick();
      TConsultMainForm::ClickMenuItem(main.Form()->SaveAs);
    }
    std::ofstream snapshot(args["--snapshot"], std::ios::binary);
    for (uint32_t i = 0; i < records; ++i) {
      SampleRecord record;
      (void)FetchRecord(instances.logMemory, record, i);
      snapshot.write(reinterpret_cast<const char*>(record.bytes.data()), kSampleRecordSize);
    }
    snapshot.close();
    std::printf("ready\n");
    std::fflush(stdout);
  });
  watch.start(10);
  QApplication::exec();
  return 0;
}
