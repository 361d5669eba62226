// The program's one session with the ECU and its recording: what the main
// window's commands and torvane-cli do, without a window. The session owns
// the state of the link and of the recording; each command is one call that
// moves that state and returns its outcome with the status lines to show.
// Which commands the window offers follows from the state alone (Enabled).
//
// Commands run on one thread (the window's interface thread, or the
// command-line tool's). The recording clock steps on its own thread; the
// stream receiver reads the line on its own. They share the recorder state,
// whose flags are atomics.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control/LineWatch.h"
#include "control/ProgramInstances.h"
#include "control/WriteThrough.h"
#include "data/CsvWriter.h"
#include "data/FaultCodes.h"
#include "data/Recorder.h"
#include "data/RegisterList.h"

// What Start began and Stop has not ended yet.
enum class Run { kStopped, kRecording, kPlaying };
// What Start began last: the display keeps showing a stopped live reading,
// and only a playback lets the position bar move the playback.
enum class LastStart { kNone, kLive, kPlayback };

struct SessionState {
  bool portOpen = false;
  // The last initialisation found the ECU: the "ECU" lamp, which a close
  // leaves as it is.
  bool ecuAnswered = false;
  Run run = Run::kStopped;
  LastStart lastStart = LastStart::kNone;
  // Start may be pressed: the ECU answered, a recording was loaded, or a
  // reading or playback stopped. A failed initialisation and a close take
  // it back.
  bool startOffered = false;
  // The ECU answered and its number has not been read since, nor a reading
  // started (the reply would be lost in the stream).
  bool numberOffered = false;
  // A live reading brings no frames: the lamps go out until it is back.
  bool lineLost = false;
  bool operator==(const SessionState&) const = default;
};

// What the window shows enabled, greyed or running.
struct EnabledCommands {
  bool ecuOpen = false;
  bool ecuClose = false;
  bool ecuInit = false;
  bool ecuNoCheck = false;
  bool autoSearch = false;  // the ECU Auto Search: open, initialise, identify
  bool start = false;
  bool stop = false;
  bool cableLamp = false;    // "Conection"
  bool ecuLamp = false;      // "ECU"
  bool positionBar = false;  // the playback position bar
  bool display = false;      // the values follow the current sample
  bool selfDiagnosis = false;  // the fault codes may be read or cleared
  bool activeTest = false;     // the Active Test window may be opened
  bool applyTest = false;      // a test may be applied: a live reading runs
  bool operator==(const EnabledCommands&) const = default;
};

EnabledCommands Enabled(const SessionState& state);

// An active test the ECU holds: a row of kActiveTests and its value.
struct HeldTest {
  int index = -1;  // -1: none
  int value = 0;
};

// One command's outcome: done or not, and the status lines it reports, in
// order (some commands report nothing).
// What writing a recording through has cost so far.
struct WriteThroughFigures {
  uint64_t records = 0;
  uint64_t bytes = 0;
  uint64_t syncs = 0;
};

struct CommandOutcome {
  bool done = false;
  std::vector<std::string> lines;
};

class Session {
 public:
  explicit Session(const ProgramInstances& instances);
  // Stops the recording clock's thread: no step runs once the session is gone.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Starts the recording clock (its ticks do nothing until Start), with the
  // view that shows what its steps do; first writes what a killed run left
  // unsaved to recoveryFolder, then creates the log memory. Returns the
  // recovered files. Called once.
  std::vector<std::string> Begin(std::shared_ptr<RecorderView> view,
                                 const std::string& recoveryFolder);

  const SessionState& State() const { return state_; }
  EnabledCommands Enabled() const;
  // Start records the ECU (true) or plays the loaded recording back.
  bool LiveMode() const { return instances_.recorderState.liveMode.load() != 0; }
  const ProgramInstances& Instances() const { return instances_; }
  // What a clock tick steps, for a caller that steps as the clock would.
  Recorder& RecorderOfSession() { return recorder_; }
  RecorderState& Recording() { return instances_.recorderState; }
  LogMemory& Memory() { return instances_.logMemory; }
  // Changes whenever the recording in memory is replaced: a live recording
  // starts again at record 0, or a file is loaded.
  uint64_t RecordingGeneration() const { return generation_; }

  // The ECU commands. port is the COM number; ClosePort's only names the
  // port in its status line.
  CommandOutcome OpenPort(int32_t port);
  CommandOutcome ClosePort(int32_t port);
  CommandOutcome Initialize();                   // blocks up to about a second
  CommandOutcome ReadEcuNumber(std::string& number);  // the five characters, printable
  int32_t FindCable() const;
  // Open (unless the port is open), Initialize and, with identify, the
  // ECU number: the ECU Auto Search and torvane-cli's way to the ECU, with
  // every step's status lines. reached says how far it got: the step that
  // failed, or kDone.
  enum class ConnectStep { kOpen, kInitialize, kNumber, kDone };
  CommandOutcome Connect(int32_t port, bool identify, std::string& number, ConnectStep& reached);
  // The ECU's self-diagnosis, never while a live reading streams: the
  // stored codes, and their clearing (which reads again what is left).
  CommandOutcome ReadFaultCodes(std::vector<FaultCode>& codes);
  CommandOutcome ClearFaultCodes(std::vector<FaultCode>& left);

  // Active tests ride on the live reading: the stream request is sent again
  // with the test in it, so that the engine's values stay on show while the
  // ECU holds the test. A test holds until it is released: by Release, by
  // Stop (whose stop byte releases it), ECU Close, the end of the program,
  // kTestHoldLimit without renewal (applying it again renews it), or a line
  // that brings no frame for kTestLineLost. Each apply and release is one
  // status line. Tests that need the car at a standstill are refused unless
  // the road speed reads 0.
  static constexpr std::chrono::seconds kTestHoldLimit{60};
  static constexpr std::chrono::milliseconds kTestLineLost{1500};
  CommandOutcome ApplyActiveTest(int index, int value);
  CommandOutcome ReleaseActiveTest();
  // Releases a test whose time is up or whose line is lost; nothing when
  // none is. Called every so often by whoever shows the test.
  CommandOutcome CheckActiveTest(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());
  const HeldTest& ActiveTestHeld() const { return heldTest_; }
  // Whole seconds until an unrenewed test is released.
  int64_t ActiveTestSecondsLeft() const;

  // The registers a live reading asks for (the eighteen unless chosen
  // otherwise); at most a frame's worth. Takes effect at the next Start.
  void SetRegisters(RegisterMask registers);
  RegisterMask Registers() const { return registers_; }
  // What the last live Start streams: the registers asked for less those
  // the ECU lacks, which it names as lacking.
  RegisterMask StreamedRegisters() const { return streamed_; }
  RegisterMask LackingRegisters() const { return lacking_; }
  // Asks the ECU for each catalogue register alone (not while a reading
  // runs): has is what it echoed, lacks what it refused; the rest did not
  // answer. A line says how it went.
  CommandOutcome ProbeRegisters(RegisterMask& has, RegisterMask& lacks);
  // The part number read last ("23710-8JU17"), "" before any.
  const std::string& EcuPartNumberRead() const { return partNumber_; }

  // Start and Stop, live or playback by the mode. A live Start asks the
  // view about an unsaved recording first; declined, it is not done. When
  // the ECU's echo of the request refuses registers, they are dropped and
  // the rest asked for again (a line names them; their values show n/a);
  // when it refuses all, the reading stops and Start is not done. With
  // fromFirstFrame the recording begins with the first frame the ECU sends
  // (waiting up to two seconds for it; not done when none comes) instead
  // of at once.
  CommandOutcome Start(bool fromFirstFrame = false);
  CommandOutcome Stop();

  // A live reading that brings no frame for LineWatch::kQuiet has lost its
  // line: one status line says so, the lamps go out, and the recording
  // holds gaps (records without values) from then on, never the last
  // sample again. Then, unless turned off, the session tries every
  // LineWatch::kRetry to read again: it opens the port anew when its device
  // went away and came back under its name, initialises the ECU and asks
  // for the same registers (never a test); the reading goes on into the
  // same recording, with one status line. Stop ends the attempts.
  bool LineLost() const { return lineWatch_.Lost(); }
  void SetReconnect(bool on) { reconnect_ = on; }
  // Who hears the two lines, on the watch's thread; by default the view's
  // status line. Set before Start.
  void SetLinkReport(std::function<void(const std::string&)> report) { linkReport_ = std::move(report); }

  // A live recording is also written to a file as it is made, on disk every
  // WriteThrough::kPeriod, so that a power cut costs at most the last
  // second: by default a file of its own in the recovery folder (Begin's),
  // which goes once the recording is saved or given up, and which the next
  // start offers back when the program died first. A line says when it
  // cannot be written.
  void SetWriteThrough(bool on) { writeThroughOn_ = on; }
  // Written through to this file instead (replaced if it is there), which
  // stays the caller's: torvane-cli record --out. "" for the default.
  void WriteThroughTo(const std::string& fileName) { writeThroughTo_ = fileName; }
  // The file the last live Start writes to, "" when none.
  const std::string& WriteThroughFile() const { return writeThrough_.FileName(); }
  WriteThroughFigures WriteThroughSoFar() const;

  // The file commands. Load first stops whatever runs, as the user's Stop
  // would. Ask KeepsUnsaved before choosing a file to load.
  [[nodiscard]] bool KeepsUnsaved();  // false: the user declined to lose an unsaved recording
  CommandOutcome Load(const std::string& fileName);
  CommandOutcome Save(const std::string& fileName);
  CommandOutcome Export(const std::string& fileName, int32_t first, int32_t last,
                        CsvProgress* progress, std::vector<std::string>& lines);
  // The same records in the log viewers' format (.msl); the same lines.
  CommandOutcome ExportMsl(const std::string& fileName, int32_t first, int32_t last);

  // The playback position. A drag pauses a playback while the position
  // follows it (each position fetches its record); its end resumes a
  // playback that Start began. Seek is a whole drag to one record.
  void BeginDrag();
  void DragTo(int32_t index);
  void EndDrag();
  void Seek(int64_t index);

  // The end of the program: the clock and the receiver stop and the port is
  // closed, without a stop byte.
  void Shutdown();
  // What the next start finds: how many records the memory holds and
  // whether they are saved. Only a later start reads it.
  void MarkRecording(bool unsaved);
  // For a program told to end: an unsaved recording is written to folder.
  // Returns the file, "" when there was nothing to write or it failed.
  std::string SaveUnsavedCopy(const std::string& folder, bool& failed);

 private:
  void Step();
  void ClockTick();
  // Forgets the held test and gives its release line; why may be empty.
  std::string ReleasedLine(const std::string& why);
  // The watch's hooks, on its thread.
  void LineLostNow();
  bool ReadAgain();
  void Report(const std::string& line);
  void StartWriteThrough(std::vector<std::string>& lines);
  void FinishWriteThrough(std::vector<std::string>& lines);
  // The recording's own write-through file, once nothing needs it.
  void DropOwnFile();
  CommandOutcome ReleaseTest(const std::string& why);

  ProgramInstances instances_;
  Recorder recorder_;
  std::shared_ptr<RecorderView> view_;
  SessionState state_;
  uint64_t generation_ = 0;
  // Held by every step, the clock's and a drag's: once Stop has cleared
  // the clock's flag and taken it, no step runs, and the record count is
  // final. Recursive: a step on the interface thread may run Stop (the end
  // of a playback) from inside.
  std::recursive_mutex stepLock_;
  HeldTest heldTest_;
  RegisterMask registers_ = kEighteenMask;
  RegisterMask streamed_ = kEighteenMask;
  RegisterMask lacking_ = 0;
  std::string partNumber_;
  int32_t port_ = 0;  // the COM number opened last: a lost line is sought there
  bool reconnect_ = true;
  std::function<void(const std::string&)> linkReport_;
  // Held by whoever sends to the ECU while a reading runs: the watch's
  // attempts and the active tests.
  std::mutex portLock_;
  std::string recoveryFolder_;
  bool writeThroughOn_ = true;
  std::string writeThroughTo_;
  std::string ownFile_;  // a write-through file in the recovery folder, kept while unsaved
  WriteThrough writeThrough_;
  LineWatch lineWatch_;
  uint64_t testReturns_ = 0;  // the line's returns when the test was applied
  std::chrono::steady_clock::time_point testUntil_;
  uint64_t testFrames_ = 0;  // frames decoded when the line was last seen alive
  std::chrono::steady_clock::time_point testFramesAt_;
};
