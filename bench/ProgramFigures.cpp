// Figures of the whole program, its windows included:
//
//   torvane_bench_program cpu [--seconds 30]
//       CPU of the process while it streams, records and displays from the
//       simulator (a process of its own, not counted): the main window
//       alone, then with every Tool window open, each for the span.
//       Twice: with the simulator's drag run (what scripts/run shows), and
//       with every measured value changing in every frame (--restless, the most
//       the display has to follow).
//   torvane_bench_program memory
//       Resident memory at start, with a full recording (900,001 records,
//       2.5 h of the drag run) loaded, and as each Tool window opens.
//   torvane_bench_program floor [--seconds 20]
//       What the same wake-ups cost with no program behind them: a thread
//       woken every 10 ms (the recording clock), one woken every 20.8 ms (a
//       frame at 9600 baud), and a window of one label set at each of those
//       wake-ups. The least the program's CPU figures can be on this machine.
//   torvane_bench_program dash [--seconds 20]
//       CPU of the process while it streams and records the simulator's drag
//       run (a process of its own, not counted) with the main window
//       minimised: with the Dash shown (six tiles, 800 x 480, then full
//       screen), and with a bare window of one label set at every display
//       tick instead (the floor's window, at the program's own pace). The
//       windows take turns of 2 s, so that each sees every part of the
//       drag run alike; each is counted for the span. The Dash is to cost
//       at most 1.3 times the label.
//   torvane_bench_program latency [--frames 1000]
//       From a frame's last byte on the line to its engine speed painted in
//       the window: median and worst. The simulator runs in this process so
//       that both ends are read on one clock.
//
// Runs on the display it is given; scripts/on-desktop gives it a virtual
// one with a window manager, as a user's desktop has.
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/ProgramObjects.h"
#include "data/LogFile.h"
#include "tools/ecusim/EcuSimulator.h"
#include "tools/ecusim/EngineModel.h"
#include "ui/app/ProgramWindows.h"
#include "ui/app/Settings.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/tools/DashWindow.h"
#include "ui_Consultmain.h"

namespace {

using Clock = std::chrono::steady_clock;

// The program's objects, built as the program builds them; at the end a
// recording is not left marked unsaved for the next start to recover.
struct Program : ProgramObjects {
  Program() : ProgramObjects(kRecordPeriod, ".MMF-bench-") {}
  ~Program() { (void)logMemory.WriteRecoveryMarker(kLogMemorySlot, 0, false); }
};

// Questions answered Yes; the open dialog names one file.
class Answers : public UserDialogs {
 public:
  QString file;
  bool Question(QWidget*, const QString&, const QString&) override { return true; }
  void Information(QWidget*, const QString&, const QString&) override {}
  void Warning(QWidget*, const QString&, const QString&) override {}
  void Error(QWidget*, const QString&, const QString&) override {}
  void Plain(QWidget*, const QString&, const QString&) override {}
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return file; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&, bool) override {
    return file;
  }
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the event loop for the span.
void Run(int milliseconds) {
  // A loop of its own: the application's quit would close every window.
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the event loop for the span and returns the CPU share of one core.
double CpuShareWhileRunning(int milliseconds) {
  const double cpuBefore = CpuSeconds();
  const Clock::time_point start = Clock::now();
  Run(milliseconds);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return (CpuSeconds() - cpuBefore) / wall;
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

void Click(QAction* item) { TConsultMainForm::ClickMenuItem(item); }

void OpenToolWindows(ProgramWindows& windows, bool open) {
  for (const std::unique_ptr<ToolWindow>& tool : windows.tools) {
    if (open) {
      tool->ShowWindow();
    } else {
      dynamic_cast<QWidget*>(tool.get())->hide();
    }
  }
}

// The simulator as a process of its own, as scripts/run starts it.
struct SimulatorProcess {
  explicit SimulatorProcess(const std::vector<std::string>& options) {
    int out[2];
    if (pipe(out) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      std::vector<std::string> all{TORVANE_ECU_SIM};
      all.insert(all.end(), options.begin(), options.end());
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(TORVANE_ECU_SIM, argv.data());
      _exit(127);
    }
    close(out[1]);
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') slave += c;
    close(out[0]);
  }
  ~SimulatorProcess() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  pid_t pid = -1;
  std::string slave;
};

// Opens COM1, initialises and starts, as a user's three clicks do.
bool StartLive(ProgramWindows& windows, Program& program) {
  Ui::ConsultMainForm& f = *windows.consultMainForm->Form();
  windows.comSetForm->SelectPort(1);
  Click(f.ECUOpen);
  Click(f.ECUInit);
  if (!f.StartButton->isEnabled()) return false;
  f.StartButton->click();
  return program.recordingClock.enable.load() == 1;
}

int CpuFigures(int seconds, const std::string& settings) {
  struct Load {
    const char* name;
    std::vector<std::string> options;
  };
  const Load loads[] = {{"the drag run (--drag-run)", {"--drag-run"}},
                        {"every measured value changing in every frame (--restless)", {"--drag-run", "--restless"}}};
  std::printf("| load | main window alone | with every Tool window open |\n|---|---|---|\n");
  for (const Load& load : loads) {
    SimulatorProcess simulator(load.options);
    Program program;
    Answers dialogs;
    ProgramWindows windows = CreateProgramWindows(program.session, WindowContext{settings, dialogs});
    program.serialPort.SetDevicePath(1, simulator.slave);
    windows.consultMainForm->show();
    if (!StartLive(windows, program)) {
      std::fprintf(stderr, "the simulator did not answer\n");
      return 1;
    }
    Run(3000);  // the first frames fill the rows; the drag run's first start
    const double alone = CpuShareWhileRunning(seconds * 1000);
    OpenToolWindows(windows, true);
    Run(2000);  // opening draws every window once: not what following costs
    const double tools = CpuShareWhileRunning(seconds * 1000);
    std::printf("| %s | %.2f %% of a core | %.2f %% |\n", load.name, alone * 100, tools * 100);
    std::fflush(stdout);
    OpenToolWindows(windows, false);
    windows.consultMainForm->StopButtonClick();
  }
  return 0;
}

// The Dash against the floor's label, on the same run of the program: the
// rest of the process (the receiver, the clock, the minimised main window)
// is the same under both.
int DashFigures(int seconds, const std::string& settings) {
  SimulatorProcess simulator({"--drag-run"});
  Program program;
  Answers dialogs;
  ProgramWindows windows = CreateProgramWindows(program.session, WindowContext{settings, dialogs});
  program.serialPort.SetDevicePath(1, simulator.slave);
  TConsultMainForm& main = *windows.consultMainForm;
  main.show();
  if (!StartLive(windows, program)) {
    std::fprintf(stderr, "the simulator did not answer\n");
    return 1;
  }
  main.showMinimized();
  TDashWindow& dash = *windows.Tool<TDashWindow>();
  QLabel label(QStringLiteral("0"));
  label.setWindowTitle("label");
  label.resize(200, 50);
  int labelSets = 0;
  QObject::connect(&main, &TConsultMainForm::DisplayTicked, &label, [&label, &labelSets] {
    if (label.isVisible()) label.setText(QString::number(++labelSets));
  });
  long ticks = 0;
  QObject::connect(&main, &TConsultMainForm::DisplayTicked, &label, [&ticks] { ++ticks; });

  struct Arm {
    const char* name;
    std::function<void()> show;
    QWidget* window;
    double cpu = 0;
    double wall = 0;
    long ticks = 0;
  };
  Arm arms[] = {
      {"a bare window of one label (200 x 50), set at every display tick", [&label] { label.show(); }, &label},
      {"the Dash, six tiles, 800 x 480",
       [&dash] {
         dash.showNormal();
         dash.resize(800, 480);
       },
       &dash},
      {"the Dash, six tiles, full screen", [&dash] { dash.showFullScreen(); }, &dash},
  };
  Run(3000);  // the first frames; the drag run's first start
  constexpr int kTurnMs = 2000;
  const int turns = std::max(1, seconds * 1000 / kTurnMs);
  for (int turn = 0; turn < turns; ++turn) {
    for (Arm& arm : arms) {
      arm.show();
      Run(400);  // a window shown draws itself whole once: not what following costs
      const long ticksBefore = ticks;
      const double cpuBefore = CpuSeconds();
      const Clock::time_point start = Clock::now();
      Run(kTurnMs);
      arm.wall += std::chrono::duration<double>(Clock::now() - start).count();
      arm.cpu += CpuSeconds() - cpuBefore;
      arm.ticks += ticks - ticksBefore;
      arm.window->hide();
    }
  }
  main.StopButtonClick();
  const double floor = arms[0].cpu / arms[0].wall;
  std::printf("| window shown, main window minimised | CPU of the process | display ticks a second | against the label |\n"
              "|---|---|---|---|\n");
  for (const Arm& arm : arms) {
    const double share = arm.cpu / arm.wall;
    std::printf("| %s | %.2f %% of a core | %.1f | %.2f |\n", arm.name, share * 100, arm.ticks / arm.wall,
                share / floor);
  }
  std::fflush(stdout);
  return 0;
}

// The drag run as the program records it: a frame every 20.8 ms, a record
// every 10 ms, written as a log file.
bool WriteDragRunLog(const std::string& file, uint32_t count, Program& program) {
  EngineModel engine(1, true);
  const double dt = EcuSimulator::FrameSeconds(kStreamRegisterCount);
  SampleRecord frame;
  double frameTime = 0;
  for (uint32_t i = 0; i < count; ++i) {
    for (; frameTime <= i * kRecordPeriodS; frameTime += dt) {
      engine.Advance(dt);
      frame[0] = kFrameLength;
      for (int r = 0; r < kStreamRegisterCount; ++r) frame[r + 1] = engine.Register(kStreamRegisters[r].number);
    }
    if (StoreRecord(program.logMemory, frame, i) != Result::kOk) return false;
  }
  program.recorderState.recordCount = count;
  return SaveLogFile(file, program.recorderState, program.logMemory) == Result::kOk;
}

int MemoryFigures(const std::string& settings, const std::string& folder) {
  const std::string file = folder + "/full.eld";
  {
    // Written by a program of its own, so that the figures below start
    // from a log memory nothing has touched yet.
    Program writer;
    if (CreateLogMemory(writer.logMemory) != Result::kOk ||
        !WriteDragRunLog(file, static_cast<uint32_t>(kMaxRecordIndex) + 1, writer))
      return 1;
  }
  Program program;
  Answers dialogs;
  dialogs.file = QString::fromStdString(file);
  ProgramWindows windows = CreateProgramWindows(program.session, WindowContext{settings, dialogs});
  windows.consultMainForm->show();
  Run(2000);
  const long atStart = ResidentKb();
  std::printf("| state | resident memory |\n|---|---|\n");
  std::printf("| main window open, nothing loaded | %.1f MB |\n", atStart / 1024.0);
  Click(windows.consultMainForm->Form()->FileOpen);
  Run(3000);
  std::printf("| a full recording (%u records) loaded | %.1f MB |\n", program.recorderState.recordCount.load(),
              ResidentKb() / 1024.0);
  // One Tool window after another, each given time to draw itself.
  for (const std::unique_ptr<ToolWindow>& tool : windows.tools) {
    tool->ShowWindow();
    Run(1500);
    std::printf("| and the %s open | %.1f MB |\n",
                dynamic_cast<QWidget*>(tool.get())->windowTitle().toUtf8().constData(), ResidentKb() / 1024.0);
  }
  std::remove(file.c_str());
  return 0;
}

// The rows of the window, Label1_ to Label12_, by the key of their value.
constexpr const char* kRowKeys[kValueCount] = {
    "coolant", "o2", "speed", "battery", "throttle", "exhaust",
    "ignition", "aac", "afalpha", "rpm", "maf", "injection",
};

struct Paint {
  int row;
  QString text;
  Clock::time_point at;
};

class PaintWatch : public QObject {
 public:
  explicit PaintWatch(TConsultMainForm& window) {
    for (int row = 0; row < kValueCount; ++row) {
      labels_[row] = window.findChild<QLabel*>("Label" + QString::number(row + 1) + "_");
      labels_[row]->installEventFilter(this);
    }
  }
  std::vector<Paint> paints;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Paint) return false;
    for (int row = 0; row < kValueCount; ++row)
      if (watched == labels_[row]) paints.push_back({row, labels_[row]->text(), Clock::now()});
    return false;
  }

 private:
  QLabel* labels_[kValueCount] = {};
};

struct Sent {
  SampleRecord record;
  Clock::time_point at;
};
std::mutex sentLock;
std::vector<Sent> sent;

void OnFrameSent(const SentFrame& frame, void*) {
  const SampleRecord record = frame.Record();
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> hold(sentLock);
  sent.push_back({record, now});
}

QString RowText(int row, const SampleRecord& record) {
  for (const ValueColumn& column : kValueColumns)
    if (std::strcmp(column.key, kRowKeys[row]) == 0) return QString::number(ConvertValue(column, record));
  return {};
}

int LatencyFigures(size_t frames, const std::string& settings) {
  EcuSimulator simulator(EcuSimulatorOptions{});
  simulator.SetFrameObserver(OnFrameSent, nullptr);
  if (!simulator.Start()) return 1;

  Program program;
  Answers dialogs;
  ProgramWindows windows = CreateProgramWindows(program.session, WindowContext{settings, dialogs});
  program.serialPort.SetDevicePath(1, simulator.SlavePath());
  windows.consultMainForm->show();
  PaintWatch watch(*windows.consultMainForm);
  if (!StartLive(windows, program)) return 1;
  // The first frames fill rows that still show "-"; measure after them.
  size_t first = 0;
  for (;;) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    std::lock_guard<std::mutex> hold(sentLock);
    if (first == 0 && !sent.empty()) first = sent.size() + 5;
    if (first != 0 && sent.size() >= first + frames + 1) break;
  }
  windows.consultMainForm->StopButtonClick();

  // A frame is on screen when a row it changed paints its new value. The
  // paint must come before the next frame is on the line, or it is missed.
  std::vector<double> latencies;
  size_t missed = 0;
  size_t unchanged = 0;
  std::lock_guard<std::mutex> hold(sentLock);
  for (size_t i = first; i < first + frames; ++i) {
    int row = -1;
    for (int r = 0; r < kValueCount && row < 0; ++r)
      if (RowText(r, sent[i].record) != RowText(r, sent[i - 1].record)) row = r;
    if (row < 0) {
      ++unchanged;
      continue;
    }
    const QString text = RowText(row, sent[i].record);
    auto paint = std::find_if(watch.paints.begin(), watch.paints.end(), [&](const Paint& p) {
      return p.at >= sent[i].at && p.row == row && p.text == text;
    });
    if (paint == watch.paints.end() || paint->at >= sent[i + 1].at) {
      ++missed;
      continue;
    }
    latencies.push_back(std::chrono::duration<double, std::milli>(paint->at - sent[i].at).count());
  }
  if (latencies.empty()) return 1;
  std::sort(latencies.begin(), latencies.end());
  std::printf("frame's last byte to its values painted, over %zu frames: %zu measured, "
              "%zu changed no value, %zu not painted before the next frame\n",
              frames, latencies.size(), unchanged, missed);
  std::printf("  median %.2f ms, 99th percentile %.2f ms, worst %.2f ms\n",
              latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100],
              latencies.back());
  return 0;
}


// The bare cost of the program's wake-up pattern on this machine, each part
// alone and then together (see the comment at the top).
int FloorFigures(int seconds) {
  struct Part {
    const char* name;
    bool clock, frames, label;
  };
  const Part parts[] = {{"a thread woken every 10 ms", true, false, false},
                        {"a thread woken every 20.8 ms", false, true, false},
                        {"the same, setting one label in a window each time", false, true, true},
                        {"all three", true, true, true}};
  QLabel label(QStringLiteral("0"));
  label.resize(200, 50);
  label.show();
  Run(1000);
  std::printf("| bare wake-ups | CPU of the process |\n|---|---|\n");
  for (const Part& part : parts) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    if (part.clock)
      threads.emplace_back([&stop] {
        for (auto next = Clock::now(); !stop;) std::this_thread::sleep_until(next += std::chrono::milliseconds(10));
      });
    if (part.frames)
      threads.emplace_back([&stop, &label, setLabel = part.label] {
        int frame = 0;
        for (auto next = Clock::now(); !stop; ++frame) {
          std::this_thread::sleep_until(next += std::chrono::microseconds(20800));
          if (setLabel)
            QMetaObject::invokeMethod(&label, [&label, frame] { label.setText(QString::number(frame)); });
        }
      });
    Run(1000);
    const double share = CpuShareWhileRunning(seconds * 1000);
    stop = true;
    for (std::thread& thread : threads) thread.join();
    Run(100);  // the last labels queued
    std::printf("| %s | %.2f %% of a core |\n", part.name, share * 100);
    std::fflush(stdout);
  }
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  InstallFontSubstitutes();
  const std::string mode = argc > 1 ? argv[1] : "";
  const long count = argc > 3 ? std::atol(argv[3]) : 0;
  char folder[] = "/tmp/torvane-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string settings = std::string(folder) + "/tcon.ini";
  int result = 2;
  if (mode == "cpu") result = CpuFigures(count > 0 ? static_cast<int>(count) : 30, settings);
  if (mode == "memory") result = MemoryFigures(settings, folder);
  if (mode == "floor") result = FloorFigures(count > 0 ? static_cast<int>(count) : 20);
  if (mode == "dash") result = DashFigures(count > 0 ? static_cast<int>(count) : 20, settings);
  if (mode == "latency") result = LatencyFigures(count > 0 ? static_cast<size_t>(count) : 1000, settings);
  if (result == 2)
    std::fprintf(stderr, "usage: torvane_bench_program cpu|memory|floor|dash|latency [--seconds N|--frames N]\n");
  std::remove(settings.c_str());
  rmdir(folder);
  return result;
}
