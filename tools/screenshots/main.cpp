// The user guide's pictures, taken from the real windows on the simulator:
//
//   torvane-screenshots OUTPUT_FOLDER
//
// writes registers.png, live.png, more-values.png, value-setting.png,
// sound.png, active-test.png, playback.png, export.png, comport.png,
// self-diagnosis.png, dash.png and dash-night.png there (with a last
// argument "dash", only the last two). It goes through the windows as a user would: ECU
// Open, ECU Initialize, Registers probed and two more chosen, and Start on
// COM1 (the simulator, in this process), More Values, Value Setting and Sound filled in
// and cancelled (the later pictures show the defaults), Stop, Save As, File > Open of that
// file, Start to play it back, the export dialog, the COM port dialog and
// Self Diagnosis (the simulated ECU has two stored codes); then the Dash over
// the simulator's drag run, a coolant limit set to show a warning and the
// shift light at 6000 rpm, by day and by night.
// The file dialogs are answered here; any message box is printed and counts
// as a failure, since a guide picture must not show a run that went wrong.
//
// scripts/screenshots runs it on a virtual X display with the program's
// fonts; without a display it falls back to the offscreen platform.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "control/ProgramObjects.h"
#include "tools/ecusim/EcuSimulator.h"
#include "ui/app/ProgramWindows.h"
#include "ui/app/Settings.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/tools/DashTile.h"
#include "ui/tools/DashWindow.h"
#include "ui/tools/MoreValuesWindow.h"
#include "link/ActiveTests.h"
#include "ui_ActiveTestWindow.h"
#include "ui_Comset.h"
#include "ui_Consultmain.h"
#include "ui_RegistersWindow.h"
#include "ui_ExportDlg.h"
#include "ui_SoundWindow.h"
#include "ui_ValueSettingWindow.h"
#include "ui/main/WarningTone.h"

namespace {

// The program's instances, built as the program builds them; at the end a
// recording is not left marked unsaved for the next start to recover.
// The Sound window as on a desktop with a sound device, whatever this
// machine has; nothing is played.
class SilentTone : public WarningTone {
 public:
  bool Available() override { return true; }
  void Play(int) override {}
};

struct Instances : ProgramObjects {
  ~Instances() { (void)logMemory.WriteRecoveryMarker(kLogMemorySlot, 0, false); }
};

// Both file dialogs name the one log file of this run; questions are
// answered Yes; every box is a failure.
class AnsweringDialogs : public UserDialogs {
 public:
  explicit AnsweringDialogs(QString logFile) : logFile_(std::move(logFile)) {}
  int boxes = 0;

  bool Question(QWidget*, const QString& text, const QString& title) override {
    // The one question the pictures mean to answer: Apply of Active Test.
    if (title != "Active Test") Report("question", text, title);
    return true;
  }
  void Information(QWidget*, const QString& text, const QString& title) override {
    Report("information", text, title);
  }
  void Warning(QWidget*, const QString& text, const QString& title) override {
    Report("warning", text, title);
  }
  void Error(QWidget*, const QString& text, const QString& title) override {
    Report("error", text, title);
  }
  void Plain(QWidget*, const QString& text, const QString& title) override {
    Report("message", text, title);
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override {
    return logFile_;
  }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&, bool) override {
    return logFile_;
  }

 private:
  void Report(const char* kind, const QString& text, const QString& title) {
    ++boxes;
    std::fprintf(stderr, "torvane-screenshots: %s box \"%s\": %s\n", kind,
                 title.toLocal8Bit().constData(), text.simplified().toLocal8Bit().constData());
  }
  QString logFile_;
};

// The event loop turns for the span, or until done holds: the clock
// records or plays and the display keeps up, as while a user looks at it.
bool RunFor(int milliseconds, const std::function<bool()>& done = [] { return false; }) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) {
    if (done()) return true;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return false;
}

bool Fail(const char* what) {
  std::fprintf(stderr, "torvane-screenshots: %s\n", what);
  return false;
}

QString LastStatusLine(Ui::ConsultMainForm& f) {
  QListWidget* list = f.StatusListBox;
  return list->count() > 0 ? list->item(list->count() - 1)->text() : QString();
}

// Pictures of windows are mostly flat colour: 256 colours keep every pixel
// of them and make the files a fraction of the size. The Dash's big digits
// are smoothed with more shades than that: its pictures keep every colour.
bool Save(QWidget& window, const QDir& folder, const char* name, bool everyColour = false) {
  const QImage grabbed = window.grab().toImage();
  const QImage picture = everyColour ? grabbed.convertToFormat(QImage::Format_RGB888)
                                     : grabbed.convertToFormat(QImage::Format_Indexed8,
                                                               Qt::ThresholdDither | Qt::AvoidDither);
  const QString path = folder.filePath(name);
  if (!picture.save(path, "PNG", 0)) return Fail("a picture could not be written");
  std::printf("%s (%dx%d)\n", path.toLocal8Bit().constData(), picture.width(), picture.height());
  return true;
}

void Click(QAction* item) { TConsultMainForm::ClickMenuItem(item); }

bool TakePictures(const QDir& folder, const std::string& scratch) {
  EcuSimulatorOptions ecu;
  ecu.codes = {{0x12, 3}, {0x34, 12}};
  EcuSimulator simulator(ecu);
  if (!simulator.Start()) return Fail(("the simulator did not start: " + simulator.Error()).c_str());

  AnsweringDialogs dialogs(QString::fromStdString(scratch + "/drive.eld"));
  Instances instances;
  SilentTone tone;
  ProgramWindows windows =
      CreateProgramWindows(instances.session, WindowContext{scratch + "/tcon.ini", dialogs, &tone});
  instances.serialPort.SetDevicePath(1, simulator.SlavePath());
  TConsultMainForm& main = *windows.consultMainForm;
  Ui::ConsultMainForm& f = *main.Form();
  main.move(0, 0);
  main.show();
  windows.comSetForm->SelectPort(1);

  // Live: the three clicks of the guide's first steps.
  Click(f.ECUOpen);
  Click(f.ECUInit);
  if (!f.StartButton->isEnabled()) return Fail("the simulator's ECU was not found");

  // Registers: probed, and the intake air temperature and the boost sensor
  // streamed beside the eighteen, which fills a frame.
  Click(f.Registers1);
  TRegistersWindow& registers = *windows.registersWindow;
  registers.Form()->ProbeButton->click();
  if (!LastStatusLine(f).startsWith("OK. Registers probed")) return Fail("the registers were not probed");
  for (int number : {0x11, 0x29}) registers.Tick(CatalogueIndexOf(number))->setCheckState(Qt::Checked);
  registers.Form()->RegisterTable->scrollToItem(registers.Tick(CatalogueIndexOf(0x36)));
  RunFor(200);
  if (!Save(registers, folder, "registers.png")) return false;
  registers.Form()->OkButton->click();
  if (registers.isVisible()) return Fail("the registers chosen were refused");

  f.StartButton->click();
  // The simulated engine idles first; the picture shows it on the road.
  RecorderState& state = instances.recorderState;
  if (!RunFor(60000, [&] { return ConvertValue(ValueRowOf("speed"), state.current.Load()) >= 40; }))
    return Fail("the simulated car never drove off");
  RunFor(500);
  if (!Save(main, folder, "live.png")) return false;

  // The two values beyond the main window's, in a window of their own.
  TMoreValuesWindow& moreValues = *windows.Tool<TMoreValuesWindow>();
  moreValues.ShowWindow();
  RunFor(500);
  if (!Save(moreValues, folder, "more-values.png")) return false;
  moreValues.hide();

  // Value Setting filled in as the guide's example: a coolant limit, mph,
  // larger tyres; then the Sound window.
  Click(f.ValSettingBtn);
  TValueSettingWindow& valueSetting = *windows.valueSettingWindow;
  const int coolant = ValueColumnOf("coolant");
  valueSetting.HighBox(coolant)->setChecked(true);
  valueSetting.HighEdit(coolant)->setValue(80);
  valueSetting.Form()->MphButton->setChecked(true);
  valueSetting.Form()->StockTyreEdit->setText("195/65R15");
  valueSetting.Form()->FittedTyreEdit->setText("225/50R17");
  valueSetting.Form()->TyreButton->click();
  RunFor(200);
  if (!Save(valueSetting, folder, "value-setting.png")) return false;
  valueSetting.Form()->CancelButton->click();
  Click(f.SoundBtn);
  RunFor(200);
  if (!Save(*windows.soundWindow, folder, "sound.png")) return false;
  windows.soundWindow->Form()->CancelButton->click();

  // Active Test holding the idle air valve open, the engine's answer on
  // the main window behind it.
  Click(f.ActiveTest1);
  Ui::ActiveTestWindow& t = *windows.activeTestWindow->Form();
  t.TestBox->setCurrentIndex(FindActiveTest("aac"));
  t.ValueEdit->setValue(35);
  t.ApplyButton->click();
  if (instances.session.ActiveTestHeld().index < 0) return Fail("the active test was not applied");
  RunFor(1500);
  if (!Save(*windows.activeTestWindow, folder, "active-test.png")) return false;
  t.ReleaseButton->click();
  windows.activeTestWindow->close();

  // Playback of the same drive, from its file.
  f.StopButton->click();
  RunFor(300);
  Click(f.SaveAs);
  Click(f.FileOpen);
  if (LastStatusLine(f) != "Load Log File OK") return Fail("the saved log did not load");
  f.StartButton->click();
  RunFor(500);
  // A drag of the position bar to two thirds of the drive, as the mouse
  // does it: hold, move, let go.
  main.PlayPositionBarScroll(ScrollCode::Track);
  f.PlayPositionBar->setValue(f.PlayPositionBar->maximum() * 2 / 3);
  main.PlayPositionBarScroll(ScrollCode::EndScroll);
  RunFor(1500);
  if (!Save(main, folder, "playback.png")) return false;
  f.StopButton->click();
  RunFor(100);

  // The export dialog with a stretch of the drive chosen.
  Click(f.ExporttoExcelcsv);
  Ui::ExportDlg& d = *windows.exportDlg->Form();
  const int count = static_cast<int>(instances.recorderState.recordCount.load());
  d.StopScrollBar->setValue(count - 1);
  d.StartScrollBar->setValue(count / 4);
  RunFor(200);
  if (!Save(*windows.exportDlg, folder, "export.png")) return false;
  d.CancelBtn->click();

  // The COM port dialog as Setting > Com Setting opens it.
  Click(f.ComSettingBtn);
  RunFor(200);
  if (!Save(*windows.comSetForm, folder, "comport.png")) return false;
  windows.comSetForm->Form()->Com_Cancel->click();

  // Self Diagnosis reads the part number and the stored codes as it opens.
  Click(f.SelfDiagnosis1);
  RunFor(300);
  if (windows.selfDiagnosisWindow->Codes().size() != 2) return Fail("the stored codes were not read");
  if (!Save(*windows.selfDiagnosisWindow, folder, "self-diagnosis.png")) return false;
  windows.selfDiagnosisWindow->close();

  Click(f.ECUClose);
  RunFor(100);
  windows = ProgramWindows{};
  return dialogs.boxes == 0 || Fail("a message box came up: the pictures may show a failed run");
}

// The Dash as a driver sees it in the drag run: six tiles, the coolant
// beyond a limit of 85 deg C, the shift light lit in a pull.
bool TakeDashPictures(const QDir& folder, const std::string& scratch) {
  EcuSimulatorOptions ecu;
  ecu.dragRun = true;
  EcuSimulator simulator(ecu);
  if (!simulator.Start()) return Fail(("the simulator did not start: " + simulator.Error()).c_str());
  AnsweringDialogs dialogs(QString::fromStdString(scratch + "/dash.eld"));
  Instances instances;
  ProgramWindows windows =
      CreateProgramWindows(instances.session, WindowContext{scratch + "/tcon-dash.ini", dialogs, nullptr});
  instances.serialPort.SetDevicePath(1, simulator.SlavePath());
  TConsultMainForm& main = *windows.consultMainForm;
  Ui::ConsultMainForm& f = *main.Form();
  main.move(0, 0);
  main.show();
  windows.comSetForm->SelectPort(1);
  Click(f.ECUOpen);
  Click(f.ECUInit);
  if (!f.StartButton->isEnabled()) return Fail("the simulator's ECU was not found");
  ValueSettings settings;
  settings.LimitOf(ValueColumnOf("coolant")).highOn = true;
  settings.LimitOf(ValueColumnOf("coolant")).high = 85;
  main.ApplyValueSettings(settings);
  f.StartButton->click();

  TDashWindow& dash = *windows.Tool<TDashWindow>();
  dash.findChild<QSpinBox*>("ShiftEdit")->setValue(6000);
  dash.resize(800, 480);
  dash.move(40, 40);
  dash.ShowWindow();
  // In a pull, the light lit, the coolant past its limit.
  const int coolantTile = 2;
  if (!RunFor(90000, [&] {
        return dash.ShiftLightLit() && dash.Tile(coolantTile).CurrentLook() == DashTile::Look::kWarning;
      }))
    return Fail("the drag run never reached the shift light with the coolant past its limit");
  if (!Save(dash, folder, "dash.png", true)) return false;
  dash.findChild<QPushButton*>("NightButton")->click();
  RunFor(300);
  if (!Save(dash, folder, "dash-night.png", true)) return false;
  f.StopButton->click();
  RunFor(100);
  Click(f.ECUClose);
  RunFor(100);
  windows = ProgramWindows{};
  return dialogs.boxes == 0 || Fail("a message box came up: the pictures may show a failed run");
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  InstallFontSubstitutes();
  const bool dashOnly = argc == 3 && std::strcmp(argv[2], "dash") == 0;
  if (argc != 2 && !dashOnly) {
    std::fprintf(stderr, "usage: torvane-screenshots OUTPUT_FOLDER [dash]\n");
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.exists() && !QDir().mkpath(folder.path())) {
    Fail("the output folder could not be made");
    return 1;
  }
  char scratch[] = "/tmp/torvane-screenshots-XXXXXX";
  if (mkdtemp(scratch) == nullptr) {
    Fail("no scratch folder");
    return 1;
  }
  const bool ok = (dashOnly || TakePictures(folder, scratch)) && TakeDashPictures(folder, scratch);
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  return ok ? 0 : 1;
}
