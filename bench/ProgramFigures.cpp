// Figures of the whole program, its windows included:
//
//   torvane_bench_program cpu [--seconds 60]
//       CPU of the process over the span, first with the window open and
//       nothing running, then while it streams, records and displays from
//       the simulator (which runs as a process of its own, not counted),
//       then with the Sub Window open and closed by turns, and the
//       difference: what the Sub Window costs following the recording; the
//       same again with the main window hidden.
//   torvane_bench_program latency [--frames 1000]
//       From a frame's last byte on the line to its engine speed painted in
//       the window: median and worst. The simulator runs in this process so
//       that both ends are read on one clock.
//
// Runs on the display it is given; under `xvfb-run` that is a real X server.
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "control/ProgramObjects.h"
#include "tools/ecusim/EcuSimulator.h"
#include "ui/app/ProgramWindows.h"
#include "ui/app/Settings.h"
#include "ui/tools/SubWindow.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui_Consultmain.h"

namespace {

using Clock = std::chrono::steady_clock;

// The program's instances, built as the program builds them; at the end a
// recording is not left marked unsaved for the next start to recover.
struct Instances : ProgramObjects {
  ~Instances() { (void)logMemory.WriteRecoveryMarker(kLogMemorySlot, 0, false); }
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the event loop for the span and returns the CPU share of one core.
double CpuShareWhileRunning(int milliseconds) {
  const double cpuBefore = CpuSeconds();
  const Clock::time_point start = Clock::now();
  // A loop of its own: the application's quit would close every window,
  // the Sub Window with it.
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return (CpuSeconds() - cpuBefore) / wall;
}

void Click(QAction* item) { TConsultMainForm::ClickMenuItem(item); }

// Opens COM1, initialises and starts, as a user's three clicks do.
bool StartLive(ProgramWindows& windows, Instances& instances) {
  Ui::ConsultMainForm& f = *windows.consultMainForm->Form();
  windows.comSetForm->SelectPort(1);
  Click(f.ECUOpen);
  Click(f.ECUInit);
  if (!f.StartButton->isEnabled()) return false;
  f.StartButton->click();
  return instances.recorderState.liveMode.load() == 1;
}

int CpuFigures(int seconds, const std::string& settings) {
  // The simulator as its own process, as scripts/run starts it.
  int out[2];
  if (pipe(out) != 0) return 1;
  const pid_t simulator = fork();
  if (simulator == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    execl(TORVANE_ECU_SIM, TORVANE_ECU_SIM, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string slave;
  char c = 0;
  while (read(out[0], &c, 1) == 1 && c != '\n') slave += c;

  Instances instances;
  StandardDialogs dialogs;
  ProgramWindows windows = CreateProgramWindows(instances.session, WindowContext{settings, dialogs});
  instances.serialPort.SetDevicePath(1, slave);
  windows.consultMainForm->show();

  const double idle = CpuShareWhileRunning(seconds * 1000);
  std::printf("window idle:            %6.3f %% of a core over %d s\n", idle * 100, seconds);
  if (!StartLive(windows, instances)) {
    std::fprintf(stderr, "the simulator did not answer\n");
    return 1;
  }
  const double live = CpuShareWhileRunning(seconds * 1000);
  std::printf("streaming, recording, displaying: %6.3f %% of a core over %d s (%u records)\n",
              live * 100, seconds, instances.recorderState.recordCount.load());
  // The Tool menu's windows on top: the Sub Window follows the recording
  // at its refresh rate; the Check and Power Meter windows always follow it.
  // Open and closed by short turns, so that what the drive does meanwhile
  // (and so what the main window redraws) weighs the same on both sides.
  // Half a second after each opening and closing is not counted: an
  // opening draws the whole window once, which is not what following the
  // recording costs. What it does cost is printed on its own.
  const int turns = 10;
  const int turnMs = std::max(1000, seconds * 1000 / turns);
  auto byTurns = [&](const char* what) {
    double open = 0;
    double closed = 0;
    double opening = 0;
    for (int i = 0; i < turns; ++i) {
      TConsultMainForm::ClickMenuItem(windows.consultMainForm->Form()->SubWindow1);
      opening += CpuShareWhileRunning(500) / turns;
      open += CpuShareWhileRunning(turnMs) / turns;
      windows.Tool<TSubWindow>()->hide();
      (void)CpuShareWhileRunning(500);  // settling, not counted
      closed += CpuShareWhileRunning(turnMs) / turns;
    }
    std::printf("%s: %6.3f %% of a core open, %6.3f %% closed: %6.3f %% for the Sub Window\n", what,
                open * 100, closed * 100, (open - closed) * 100);
    return (opening - closed) * 0.5 * 1000;  // ms of CPU in the half second after opening
  };
  const double openingMs = byTurns("the same with the Sub Window open by turns");
  std::printf("opening the Sub Window, its first half second: %.1f ms of CPU above the same time closed\n",
              openingMs);
  // The main window redraws its values up to a hundred times a second,
  // which moves the figure above by tenths of a point from one run to the
  // next; without it the Sub Window's own cost stands out clearly.
  windows.consultMainForm->hide();
  (void)byTurns("the main window hidden, the Sub Window open by turns");
  windows.consultMainForm->show();
  windows.consultMainForm->StopButtonClick();
  kill(simulator, SIGTERM);
  waitpid(simulator, nullptr, 0);
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

  Instances instances;
  StandardDialogs dialogs;
  ProgramWindows windows = CreateProgramWindows(instances.session, WindowContext{settings, dialogs});
  instances.serialPort.SetDevicePath(1, simulator.SlavePath());
  windows.consultMainForm->show();
  PaintWatch watch(*windows.consultMainForm);
  if (!StartLive(windows, instances)) return 1;
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
  if (mode == "cpu") result = CpuFigures(count > 0 ? static_cast<int>(count) : 60, settings);
  if (mode == "latency") result = LatencyFigures(count > 0 ? static_cast<size_t>(count) : 1000, settings);
  if (result == 2) std::fprintf(stderr, "usage: torvane_bench_program cpu|latency [--seconds N|--frames N]\n");
  std::remove(settings.c_str());
  rmdir(folder);
  return result;
}
