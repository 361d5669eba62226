#include "control/Session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "control/LinkCommands.h"
#include "control/RecordingFiles.h"
#include "control/Recovery.h"
#include "data/LogFile.h"
#include "data/LogRecords.h"

EnabledCommands Enabled(const SessionState& state) {
  EnabledCommands e;
  e.ecuOpen = !state.portOpen;
  e.ecuClose = state.portOpen;
  // Both would cut into a running stream, and the stream into their
  // replies: the ECU would stop streaming, the reading go on showing nothing.
  e.ecuInit = state.portOpen && state.run != Run::kRecording;
  e.ecuNoCheck = state.numberOffered && state.run != Run::kRecording;
  e.autoSearch = state.run != Run::kRecording;
  e.start = state.startOffered;
  e.stop = state.run != Run::kStopped;
  e.cableLamp = state.portOpen && !state.lineLost;
  e.ecuLamp = state.ecuAnswered && !state.lineLost;
  e.positionBar = state.lastStart == LastStart::kPlayback;
  // A stopped live reading goes on showing the last sample; a stopped
  // playback freezes the values.
  e.display = state.run != Run::kStopped || state.lastStart == LastStart::kLive;
  // The replies would be lost in a stream, and the stream in them.
  e.selfDiagnosis = state.portOpen && state.ecuAnswered && state.run != Run::kRecording;
  e.activeTest = state.portOpen && state.ecuAnswered;
  e.applyTest = e.activeTest && state.run == Run::kRecording && !state.lineLost;
  return e;
}

EnabledCommands Session::Enabled() const {
  SessionState state = state_;
  state.lineLost = state_.run == Run::kRecording && lineWatch_.Lost();
  return ::Enabled(state);
}

Session::Session(const ProgramInstances& instances)
    : instances_(instances),
      recorder_{instances.recorderState, instances.logMemory, instances.recordingClock.enable},
      writeThrough_(instances.recorderState, instances.logMemory),
      lineWatch_(instances.recorderState.framesDecoded) {}

Session::~Session() {
  lineWatch_.End();
  instances_.recordingClock.Stop();
}

std::vector<std::string> Session::Begin(std::shared_ptr<RecorderView> view,
                                        const std::string& recoveryFolder) {
  view_ = std::move(view);
  recorder_.view = view_.get();
  recoveryFolder_ = recoveryFolder;
  // Ticks do nothing until Start sets the clock's enable flag.
  instances_.recordingClock.StartRecordingClock([this] { ClockTick(); });
  // Before the log memory takes over what a killed run left behind, its
  // unsaved recording is written to the recovery folder.
  std::vector<std::string> recovered =
      RecoverLeftoverRecordings(instances_.logMemory, recoveryFolder);
  // Without a section every store and fetch fails and says nothing; the
  // program still runs.
  (void)CreateLogMemory(instances_.logMemory);
  instances_.streamReceiver.active = 0;
  return recovered;
}

void Session::ClockTick() {
  std::lock_guard<std::recursive_mutex> hold(stepLock_);
  if (instances_.recordingClock.enable.load() != 0) RecorderStep(recorder_);
}

void Session::Step() {
  std::lock_guard<std::recursive_mutex> hold(stepLock_);
  RecorderStep(recorder_);
}

// ---- ECU commands ------------------------------------------------------------

CommandOutcome Session::OpenPort(int32_t port) {
  CommandOutcome outcome;
  outcome.done = instances_.consultSession.OpenPort(port) == ConsultSession::kOk;
  outcome.lines.push_back(OpenInterfaceLine(port, outcome.done));
  if (outcome.done) {
    port_ = port;
    instances_.recorderState.liveMode = 1;
    state_.portOpen = true;
  }
  return outcome;
}

CommandOutcome Session::ClosePort(int32_t port) {
  // Whatever runs is stopped first, the ECU's stream with its stop byte.
  CommandOutcome outcome = Stop();
  // A lost line whose device went away may have left it closed already.
  ConsultSession& link = instances_.consultSession;
  outcome.done = link.portNumber.load() == 0 || link.ClosePort() == ConsultSession::kOk;
  outcome.lines.push_back(CloseInterfaceLine(port, outcome.done));
  state_.portOpen = false;
  state_.startOffered = false;
  state_.numberOffered = false;
  state_.ecuAnswered = false;  // a closed port answers nothing: its mark goes out
  return outcome;
}

CommandOutcome Session::Initialize() {
  CommandOutcome outcome;
  outcome.done = instances_.consultSession.InitializeEcu() == ConsultSession::kOk;
  if (outcome.done) {
    outcome.lines = EcuFoundLines(instances_.consultSession.initAnswered.load());
  } else {
    outcome.lines.push_back(kLineEcuNotFound);
  }
  state_.ecuAnswered = outcome.done;
  state_.startOffered = outcome.done;
  if (outcome.done) state_.numberOffered = true;
  return outcome;
}

CommandOutcome Session::ReadEcuNumber(std::string& number) {
  char raw[6] = {};
  CommandOutcome outcome;
  outcome.done = instances_.consultSession.ReadEcuNumber(raw) == ConsultSession::kOk;
  outcome.lines.push_back(outcome.done ? kLineEcuNumberGot : kLineEcuNumberNotFound);
  number = outcome.done ? PrintableEcuNumber(raw) : std::string();
  if (outcome.done) {
    state_.numberOffered = false;
    partNumber_ = EcuPartNumber(number);
  }
  return outcome;
}

int32_t Session::FindCable() const { return instances_.consultSession.FindCable(); }

CommandOutcome Session::Connect(int32_t port, bool identify, std::string& number, ConnectStep& reached) {
  CommandOutcome outcome;
  if (state_.run == Run::kRecording) return outcome;  // it would break the stream
  const auto take = [&outcome](const CommandOutcome& step) {
    outcome.lines.insert(outcome.lines.end(), step.lines.begin(), step.lines.end());
    return step.done;
  };
  number.clear();
  reached = ConnectStep::kOpen;
  if (!state_.portOpen && !take(OpenPort(port))) return outcome;
  // A loaded recording keeps the program in playback: nothing to ask.
  if (!LiveMode()) return outcome;
  reached = ConnectStep::kInitialize;
  if (!take(Initialize())) return outcome;
  reached = ConnectStep::kNumber;
  if (identify && !take(ReadEcuNumber(number))) return outcome;
  reached = ConnectStep::kDone;
  outcome.done = true;
  return outcome;
}

CommandOutcome Session::ReadFaultCodes(std::vector<FaultCode>& codes) {
  CommandOutcome outcome;
  codes.clear();
  outcome.done = ::Enabled(state_).selfDiagnosis &&
                 instances_.consultSession.ReadFaultCodes(codes) == ConsultSession::kOk;
  outcome.lines.push_back(outcome.done ? kLineCodesGot : kLineCodesNotGot);
  return outcome;
}

CommandOutcome Session::ClearFaultCodes(std::vector<FaultCode>& left) {
  CommandOutcome outcome;
  left.clear();
  if (!::Enabled(state_).selfDiagnosis) {
    outcome.lines.push_back(kLineCodesNotCleared);
    return outcome;
  }
  const bool cleared = instances_.consultSession.ClearFaultCodes() == ConsultSession::kOk;
  outcome.lines.push_back(cleared ? kLineCodesCleared : kLineCodesNotCleared);
  // What is left is read either way: a clear the ECU did not confirm may
  // still have happened, and a fault still present is stored again.
  CommandOutcome read = ReadFaultCodes(left);
  outcome.lines.insert(outcome.lines.end(), read.lines.begin(), read.lines.end());
  outcome.done = cleared && read.done;
  return outcome;
}

// ---- Active tests ----------------------------------------------------------------

namespace {
std::string TestText(const HeldTest& held) {
  const ActiveTest& test = kActiveTests[static_cast<size_t>(held.index)];
  const std::string value = ActiveTestValueText(test, held.value);
  return std::string(test.caption) + (value.empty() ? "" : " " + value);
}
}  // namespace

CommandOutcome Session::ApplyActiveTest(int index, int value) {
  CommandOutcome outcome;
  const bool known = index >= 0 && static_cast<size_t>(index) < kActiveTests.size() &&
                     ActiveTestValueAllowed(kActiveTests[static_cast<size_t>(index)], value);
  if (!known) {
    outcome.lines.push_back("NG. Active Test NOT applied.");
    return outcome;
  }
  if (!Enabled().applyTest) {
    outcome.lines.push_back(state_.run == Run::kRecording ? "NG. Active Test NOT applied: the ECU line is lost."
                                                          : "NG. Active Test NOT applied: press Start first.");
    return outcome;
  }
  const SampleRecord sample = instances_.recorderState.current.Load();
  // An ECU that lacks the road speed cannot show the car stands: no
  // standstill test without it.
  constexpr int kSpeed = 4;  // the road speed's row of the value table
  static_assert(RecordByteOf(0x0B) == kValueColumns[kSpeed].highByte);
  if (kActiveTests[static_cast<size_t>(index)].standstillOnly &&
      (!HasValue(kValueColumns[kSpeed], sample) || sample[RecordByteOf(0x0B)] != 0)) {
    outcome.lines.push_back("NG. Active Test NOT applied: only at a standstill.");
    return outcome;
  }
  RegisterList streamed;
  (void)MakeRegisterList(streamed_, streamed);
  std::lock_guard<std::mutex> hold(portLock_);
  instances_.streamReceiver.BeginStream(streamed);
  if (SendStreamRequest(instances_.consultSession, streamed, index, value) != ConsultSession::kOk) {
    outcome.lines.push_back("NG. Active Test NOT applied.");
    return outcome;
  }
  heldTest_ = HeldTest{index, value};
  const auto now = std::chrono::steady_clock::now();
  testUntil_ = now + kTestHoldLimit;
  testFrames_ = instances_.recorderState.framesDecoded.load();
  testFramesAt_ = now;
  testReturns_ = lineWatch_.Returns();
  outcome.done = true;
  outcome.lines.push_back("OK. Active Test applied: " + TestText(heldTest_));
  return outcome;
}

std::string Session::ReleasedLine(const std::string& why) {
  const std::string line = "OK. Active Test released: " + TestText(heldTest_) + (why.empty() ? "" : " (" + why + ")");
  heldTest_ = HeldTest{};
  return line;
}

CommandOutcome Session::ReleaseActiveTest() { return ReleaseTest(""); }

CommandOutcome Session::ReleaseTest(const std::string& why) {
  CommandOutcome outcome;
  if (heldTest_.index < 0) return outcome;
  // The plain request begins with the stop byte, which releases the test,
  // and the values go on coming.
  // A lost line has nothing to send to; the initialisation that finds the
  // ECU again ends the test.
  if (lineWatch_.Lost() || lineWatch_.Returns() != testReturns_) {
    outcome.lines.push_back(ReleasedLine(why.empty() ? "the ECU line was lost" : why + "; the ECU line was lost"));
    return outcome;
  }
  RegisterList streamed;
  (void)MakeRegisterList(streamed_, streamed);
  std::lock_guard<std::mutex> hold(portLock_);
  instances_.streamReceiver.BeginStream(streamed);
  outcome.done = SendStreamRequest(instances_.consultSession, streamed) == ConsultSession::kOk;
  const std::string gone = "the line is gone";
  outcome.lines.push_back(ReleasedLine(outcome.done ? why : why.empty() ? gone : why + "; " + gone));
  return outcome;
}

CommandOutcome Session::CheckActiveTest(std::chrono::steady_clock::time_point now) {
  if (heldTest_.index < 0) return {};
  if (now >= testUntil_) return ReleaseTest("60 s without renewal");
  // Never applied again: the ECU found anew holds no test.
  if (lineWatch_.Lost() || lineWatch_.Returns() != testReturns_) {
    CommandOutcome outcome;
    outcome.lines.push_back(ReleasedLine("no frame from the ECU: the line is lost"));
    return outcome;
  }
  const uint64_t frames = instances_.recorderState.framesDecoded.load();
  if (frames != testFrames_) {
    testFrames_ = frames;
    testFramesAt_ = now;
  }
  if (now - testFramesAt_ < kTestLineLost) return {};
  CommandOutcome outcome;
  {
    std::lock_guard<std::mutex> hold(portLock_);
    (void)instances_.consultSession.StopStream();  // in case the ECU still listens
  }
  outcome.lines.push_back(ReleasedLine("no frame from the ECU: the line is lost"));
  return outcome;
}

int64_t Session::ActiveTestSecondsLeft() const {
  if (heldTest_.index < 0) return 0;
  const auto left = testUntil_ - std::chrono::steady_clock::now();
  return std::max<int64_t>(0, std::chrono::ceil<std::chrono::seconds>(left).count());
}

// ---- Registers -------------------------------------------------------------------

void Session::SetRegisters(RegisterMask registers) {
  RegisterList list;
  if (MakeRegisterList(registers, list)) registers_ = registers;
}

CommandOutcome Session::ProbeRegisters(RegisterMask& has, RegisterMask& lacks) {
  has = 0;
  lacks = 0;
  CommandOutcome outcome;
  if (!::Enabled(state_).selfDiagnosis) {
    outcome.lines.push_back("NG. Registers NOT probed.");
    return outcome;
  }
  for (int k = 0; k < kCatalogueSize; ++k) {
    switch (instances_.consultSession.ProbeRegister(k)) {
      case RegisterProbe::kHas: has |= RegisterMask{1} << k; break;
      case RegisterProbe::kLacks: lacks |= RegisterMask{1} << k; break;
      case RegisterProbe::kNoAnswer: break;
    }
  }
  outcome.done = (has | lacks) != 0;
  outcome.lines.push_back(outcome.done ? "OK. Registers probed: the ECU has " + std::to_string(RegisterCount(has)) +
                                             " of " + std::to_string(kCatalogueSize) + "."
                                       : "NG. Registers NOT probed: no answer.");
  return outcome;
}

// ---- Start and Stop ---------------------------------------------------------------

CommandOutcome Session::Start(bool fromFirstFrame) {
  RecorderState& recording = instances_.recorderState;
  CommandOutcome outcome;
  if (!LiveMode()) {
    recording.drag = 0;
    state_.run = Run::kPlaying;
    state_.lastStart = LastStart::kPlayback;
    state_.startOffered = false;
    instances_.recordingClock.enable = 1;
    outcome.done = true;
    outcome.lines.push_back(kLinePlayStart);
    return outcome;
  }
  if (!KeepsUnsaved()) return outcome;  // Start stays offered, nothing is sent
  const int32_t wasUnsaved = recording.unsaved.load();
  recording.unsaved = 1;
  // A new recording, unsaved and as yet empty: what a crash leaves to recover.
  (void)instances_.logMemory.WriteRecoveryMarker(kLogMemorySlot, 0, true);
  StreamReceiver& receiver = instances_.streamReceiver;
  // What an earlier stream left on the line is not part of this one.
  (void)instances_.consultSession.Purge();
  // Until the first frame comes the reading has no values: nothing of an
  // earlier reading may be recorded as this one's.
  recording.current.Store(GapRecord());
  RegisterMask asking = registers_;
  RegisterMask lacking = 0;
  bool frameCame = false;
  // Each round asks for what is left; a round whose echo refuses nothing
  // reads on. Every refusal removes a register, so the rounds end.
  for (;;) {
    RegisterList request;
    (void)MakeRegisterList(asking, request);
    const uint64_t framesBefore = recording.framesDecoded.load();
    receiver.BeginStream(request);
    // Not examined: a lost request shows as a stream that never starts.
    (void)SendStreamRequest(instances_.consultSession, request);
    if (lacking == 0) outcome.lines.push_back(kLineRequestSent);
    receiver.active = 1;
    // The ECU echoes the request as it takes it in (some 40 ms at 9600
    // baud), and a register it lacks is refused there: the reading waits
    // for the whole echo, or for the first frame of an ECU that sends none.
    const auto deadline = std::chrono::steady_clock::now() + (fromFirstFrame ? std::chrono::milliseconds(2000)
                                                                             : std::chrono::milliseconds(500));
    frameCame = false;
    while (std::chrono::steady_clock::now() < deadline) {
      frameCame = recording.framesDecoded.load() != framesBefore;
      if (frameCame || receiver.echoComplete.load()) {
        if (frameCame || !fromFirstFrame || receiver.refusedRegisters.load() != 0) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const RegisterMask refused = RequestMask(request, receiver.refusedRegisters.load());
    if (refused == 0) break;
    lacking |= refused;
    asking &= ~refused;
    if (asking == 0) break;
    // Some ECUs stream the rest after a refusal, some nothing: either way
    // the request without the refused registers starts afresh.
    receiver.active = 0;
  }
  if (lacking != 0 && asking != 0) outcome.lines.push_back(LackingRegistersLine(lacking));
  if (asking == 0 || (fromFirstFrame && !frameCame)) {
    StopLiveStream(receiver, instances_.consultSession);
    // Nothing was recorded: the memory keeps what it held, saved or not.
    recording.unsaved = wasUnsaved;
    MarkRecording(wasUnsaved != 0);
    if (asking == 0) {
      outcome.lines.push_back(RefusedRegistersLine(lacking));
      // As after a Stop: the line is open and the ECU found.
      state_.run = Run::kStopped;
      state_.startOffered = true;
      state_.numberOffered = false;
    }
    return outcome;
  }
  streamed_ = asking;
  lacking_ = lacking;
  recording.ecuPartNumber = partNumber_;
  // What was asked for, the lacking included: a file of this recording
  // names them, and shows them as n/a when played back.
  recording.registersAsked = asking | lacking;
  recording.startUtcMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  recording.logFileName = "0";  // a new recording is in no file until it is saved
  ++generation_;
  recording.currentIndex = 0;
  // The memory's records are this recording's from now on; none yet.
  recording.recordCount = 0;
  state_.run = Run::kRecording;
  state_.lastStart = LastStart::kLive;
  state_.startOffered = false;
  state_.numberOffered = false;
  StartWriteThrough(outcome.lines);
  instances_.recordingClock.enable = 1;
  LineWatch::Hooks hooks;
  hooks.lost = [this] { LineLostNow(); };
  if (reconnect_) hooks.reconnect = [this] { return ReadAgain(); };
  hooks.back = [this] { Report(kLineLineBack); };
  hooks.look = [this] {
    const std::string failure = writeThrough_.TakeFailure();
    if (!failure.empty()) Report("NG. Recording not on disk as it goes: " + failure);
  };
  lineWatch_.Begin(std::move(hooks));
  outcome.done = true;
  outcome.lines.push_back(kLineReadStart);
  return outcome;
}

void Session::StartWriteThrough(std::vector<std::string>& lines) {
  // The recording it held was given up when this one began.
  DropOwnFile();
  if (!writeThroughOn_ || (recoveryFolder_.empty() && writeThroughTo_.empty())) return;
  std::string file = writeThroughTo_;
  std::string error;
  if (file.empty()) {
    file = WriteThroughFileName(recoveryFolder_);
    error = "cannot create the folder " + recoveryFolder_;
  }
  const ExistingFile existing = writeThroughTo_.empty() ? ExistingFile::kRefuse : ExistingFile::kReplace;
  if (file.empty() || writeThrough_.Begin(file, existing, error) != Result::kOk) {
    lines.push_back("NG. Recording not on disk as it goes: " + error);
    return;
  }
  if (writeThroughTo_.empty()) ownFile_ = file;
}

void Session::FinishWriteThrough(std::vector<std::string>& lines) {
  if (!writeThrough_.Active()) return;
  std::string error;
  if (writeThrough_.Finish(error) != Result::kOk) lines.push_back("NG. Recording not all on disk: " + error);
}

void Session::DropOwnFile() {
  if (ownFile_.empty() || writeThrough_.Active()) return;
  (void)std::remove(ownFile_.c_str());
  ownFile_.clear();
}

WriteThroughFigures Session::WriteThroughSoFar() const {
  return {writeThrough_.RecordsWritten(), writeThrough_.BytesWritten(), writeThrough_.Syncs()};
}

void Session::Report(const std::string& line) {
  if (linkReport_) {
    linkReport_(line);
  } else if (view_ != nullptr) {
    // The lamps first: whoever reads the line finds them already changed.
    view_->LinkChanged();
    view_->AddStatusLine(line);
  }
}

void Session::LineLostNow() {
  RecorderState& recording = instances_.recorderState;
  // From now on the recording holds gaps: the last values are not the
  // engine's any more. A frame that lands meanwhile is the ECU's own.
  recording.current.Store(GapRecord());
  recording.sampleChanged.store(-1);
  Report(kLineLineLost);
}

bool Session::ReadAgain() {
  std::lock_guard<std::mutex> hold(portLock_);
  StreamReceiver& receiver = instances_.streamReceiver;
  ConsultSession& link = instances_.consultSession;
  RecorderState& recording = instances_.recorderState;
  // The initialisation reads the line itself: the receiver steps aside.
  receiver.active = 0;
  for (int i = 0; i < 500 && !receiver.Parked() && !receiver.Ended(); ++i)
    if (!lineWatch_.Pause(std::chrono::milliseconds(1))) return false;
  // A device that went away and came back is a new one: only a new open
  // reaches it, by the same name.
  if (link.portNumber.load() == 0 || instances_.serialPort.HungUp(port_)) {
    (void)link.ClosePort();
    if (link.OpenPort(port_) != ConsultSession::kOk) return false;
  }
  if (lineWatch_.Abandon() || link.InitializeEcu() != ConsultSession::kOk) return false;
  if (lineWatch_.Abandon()) return false;
  (void)link.Purge();
  RegisterList request;
  (void)MakeRegisterList(streamed_, request);
  const uint64_t before = recording.framesDecoded.load();
  receiver.BeginStream(request);
  (void)SendStreamRequest(link, request);
  receiver.active = 1;
  // The echo takes some 40 ms, a frame of the eighteen 20 ms more.
  for (int i = 0; i < 100; ++i) {
    if (recording.framesDecoded.load() != before) return true;
    if (!lineWatch_.Pause(std::chrono::milliseconds(10))) return false;
  }
  StopLiveStream(receiver, link);
  return false;
}

CommandOutcome Session::Stop() {
  // An attempt to read again under way gives up first: nobody else may
  // use the line meanwhile.
  const bool wasLost = state_.run == Run::kRecording && lineWatch_.Lost();
  lineWatch_.End();
  instances_.recordingClock.enable = 0;
  {
    // A step that began before the flag was cleared ends first.
    std::lock_guard<std::recursive_mutex> hold(stepLock_);
  }
  state_.run = Run::kStopped;
  state_.startOffered = true;
  CommandOutcome outcome;
  outcome.done = true;
  // The record count is final: all of it goes to the disk.
  FinishWriteThrough(outcome.lines);
  if (LiveMode()) {
    StopLiveStream(instances_.streamReceiver, instances_.consultSession);
    outcome.lines.push_back(kLineCommunicationStop);
    if (wasLost) {
      // Whether the ECU still answers is not known: it must be found again.
      state_.ecuAnswered = false;
      ConsultSession& link = instances_.consultSession;
      if (link.portNumber.load() == 0 || instances_.serialPort.HungUp(port_)) {  // its device went away
        (void)link.ClosePort();
        state_.portOpen = false;
        state_.startOffered = false;
      }
    }
    // The stop byte has released it.
    if (heldTest_.index >= 0) outcome.lines.push_back(ReleasedLine(""));
  } else {
    outcome.lines.push_back(kLinePlayStop);
  }
  return outcome;
}

// ---- Files -------------------------------------------------------------------------

bool Session::KeepsUnsaved() {
  return view_ == nullptr || !ConfirmUnsavedResult(instances_.recorderState, *view_);
}

CommandOutcome Session::Load(const std::string& fileName) {
  RecorderState& recording = instances_.recorderState;
  CommandOutcome outcome;
  // A recording or a playback must not write records or the count while
  // the file replaces them.
  if (state_.run != Run::kStopped) outcome = Stop();
  std::string why;
  outcome.done = LoadLogFile(fileName, recording, instances_.logMemory, why) == kLogFileOk;
  if (!outcome.done) {
    outcome.lines.push_back("Load Log File Error");
    if (!why.empty()) outcome.lines.push_back(why);
    return outcome;
  }
  outcome.lines.push_back("Load Log File OK");
  // What is kept for a recording (the Video window's offset) goes by its file.
  recording.logFileName = fileName;
  ++generation_;
  state_.startOffered = true;
  recording.currentIndex = 0;
  recording.liveMode = 0;
  MarkRecording(false);  // the memory now holds what a file holds
  return outcome;
}

CommandOutcome Session::Save(const std::string& fileName) {
  RecorderState& recording = instances_.recorderState;
  CommandOutcome outcome;
  recording.logFileName = fileName;
  if (recording.recordCount.load() == 0) {
    outcome.lines.push_back("ReadData NOT Found.");
    return outcome;
  }
  if (SaveLogFile(fileName, recording, instances_.logMemory) != kLogFileOk) {
    outcome.lines.push_back("Save Log File Error");
    return outcome;
  }
  outcome.done = true;
  // A live recording that goes on has records the file does not hold yet:
  // it stays unsaved.
  if (state_.run != Run::kRecording) {
    recording.unsaved = 0;
    MarkRecording(false);
  }
  return outcome;
}

CommandOutcome Session::Export(const std::string& fileName, int32_t first, int32_t last,
                               CsvProgress* progress, std::vector<std::string>& lines) {
  CommandOutcome outcome;
  // Nothing recorded or loaded: there is nothing to write.
  if (instances_.recorderState.recordCount.load() == 0) {
    outcome.lines.push_back("ReadData NOT Found.");
    return outcome;
  }
  int64_t written = 0;
  outcome.done = ExportCsvFile(fileName, first, last, instances_.recorderState,
                               instances_.logMemory, progress, written, lines) == kExportOk;
  outcome.lines.push_back(outcome.done ? "Export done" : "Export Error");
  return outcome;
}

CommandOutcome Session::ExportMsl(const std::string& fileName, int32_t first, int32_t last) {
  CommandOutcome outcome;
  const uint32_t count = instances_.recorderState.recordCount.load();
  if (count == 0) {
    outcome.lines.push_back("ReadData NOT Found.");
    return outcome;
  }
  int64_t written = 0;
  const LogMemoryRecords records(instances_.logMemory, count);
  outcome.done = ExportMslFile(fileName, first, last, records, {"Torvane log, exported " + MakeTimeStamp()},
                               instances_.recorderState.startUtcMs, written) == kExportOk;
  outcome.lines.push_back(outcome.done ? "Export done" : "Export Error");
  return outcome;
}

// ---- Playback position ----------------------------------------------------------------

void Session::BeginDrag() {
  instances_.recordingClock.enable = 0;
  instances_.recorderState.drag = 1;
}

void Session::DragTo(int32_t index) {
  if (instances_.recorderState.drag.load() != 1) return;
  instances_.recorderState.currentIndex = index;
  Step();
}

void Session::EndDrag() {
  // Only a running playback resumes; after a stop the drag flag stays set,
  // so that the bar goes on seeking until the next Start.
  if (state_.run != Run::kPlaying) return;
  instances_.recordingClock.enable = 1;
  instances_.recorderState.drag = 0;
}

void Session::Seek(int64_t index) {
  const uint32_t count = instances_.recorderState.recordCount.load();
  const int64_t last = count > 0 ? static_cast<int64_t>(count) - 1 : 0;
  BeginDrag();
  DragTo(static_cast<int32_t>(std::clamp<int64_t>(index, 0, last)));
  EndDrag();
  if (view_ != nullptr) view_->SetPlayPosition(instances_.recorderState.currentIndex.load());
}

// ---- The program's end ----------------------------------------------------------------

void Session::Shutdown() {
  lineWatch_.End();
  instances_.recordingClock.enable = 0;
  {
    std::lock_guard<std::recursive_mutex> hold(stepLock_);
  }
  std::vector<std::string> unheard;  // nobody is left to read a line
  FinishWriteThrough(unheard);
  (void)instances_.streamReceiver.StopReceiver();  // always 0
  // The port closes without a stop byte, unless the ECU holds a test: that
  // is released on every way out.
  if (heldTest_.index >= 0) {
    (void)instances_.consultSession.StopStream();
    heldTest_ = HeldTest{};
  }
  // Both do nothing when no port is open; no stop byte is sent at close.
  (void)instances_.consultSession.Purge();
  (void)instances_.consultSession.ClosePort();
  state_.portOpen = false;
  state_.run = Run::kStopped;
}

void Session::MarkRecording(bool unsaved) {
  // Its failure costs only the recovery of a later crash.
  (void)instances_.logMemory.WriteRecoveryMarker(
      kLogMemorySlot, instances_.recorderState.recordCount.load(), unsaved);
  if (!unsaved) DropOwnFile();
}

std::string Session::SaveUnsavedCopy(const std::string& folder, bool& failed) {
  failed = false;
  RecorderState& recording = instances_.recorderState;
  if (recording.unsaved.load() == 0 || recording.recordCount.load() == 0) {
    MarkRecording(false);
    return {};
  }
  const std::string file = SaveRecoveryCopy(recording, instances_.logMemory, folder);
  if (file.empty()) {
    failed = true;  // kept in the section: the next start recovers it
    return {};
  }
  MarkRecording(false);
  return file;
}
