#include "tools/ecusim/EcuSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>

#include "tools/ecusim/EngineModel.h"

namespace {

constexpr uint8_t kStop = 0x30;
constexpr uint8_t kStopped = 0xCF;  // what an ECU that repeats its replies ends with
constexpr uint8_t kFrameStart = 0xFF;
constexpr uint8_t kInit = 0xEF;      // FF FF EF, answered 10
constexpr uint8_t kLateInit = 0xED;  // FF FF ED, answered 12
constexpr uint8_t kRegisterRead = 0x5A;
constexpr uint8_t kActiveTest = 0x0A;
constexpr uint8_t kEcuNumberRead = 0xD0;
constexpr uint8_t kCodesRead = 0xD1;
constexpr uint8_t kCodesClear = 0xC1;
constexpr uint8_t kTerminator = 0xF0;
constexpr uint8_t kNoSuchRegister = 0xFE;  // in the echo, in place of the register number
constexpr uint8_t kNoCodes[2] = {0x55, 0x00};
constexpr uint8_t kMafCode = 0x12;
constexpr uint8_t kMafHigh = 0x04;
constexpr uint8_t kMafLow = 0x05;
constexpr size_t kMaxCodes = 127;  // pairs that fit behind one length byte
constexpr int kBitsPerByte = 10;  // start bit, eight data bits, stop bit
constexpr int kMaxRegisters = 0xFE;
constexpr size_t kMaxTests = 0xFE;

// The registers that hold switch, solenoid and lean bits, from the
// program's own bank table.
bool IsSwitchBank(uint8_t registerNumber) {
  for (const BitBank& bank : kAllBitBanks)
    if (bank.registerNumber == registerNumber) return true;
  return false;
}

// What an ECU with a single air flow meter has no second of.
bool IsRightBank(uint8_t registerNumber) {
  constexpr uint8_t kRightBank[] = {0x06, 0x07, 0x0A, 0x1B, 0x22, 0x23};
  return std::find(std::begin(kRightBank), std::end(kRightBank), registerNumber) !=
         std::end(kRightBank);
}

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Capped at some thirty years, so that any number given stays a deadline.
int64_t SecondsToNs(double seconds) {
  if (!(seconds > 0)) return 0;  // also NaN
  return static_cast<int64_t>(std::min(seconds, 1e9) * 1e9);
}

constexpr int64_t kReplugRetryNs = 100000000;  // when a new pair cannot be made yet

// Command parser states.
enum : int {
  kIdle = 0,
  kSeenFf,
  kSeenFfFf,
  kSeenD0,
  kSeenD1,
  kSeenC1,
  kExpectRegister,
  kExpectTestNumber,
  kExpectTestValue,
  kInRequest,  // after a whole register or test, before the next or F0
};

// An ECU's identification besides its number: fixed, and free of the 0x55
// the program takes for the middle of a home-market number (and of FF and
// the acknowledgements 10 and 12). An export-market ECU sends the first 17
// bytes before its number, a late one all 27.
constexpr uint8_t kIdentification[27] = {0x23, 0x04, 0x20, 0x00, 0x81, 0x3C, 0x0A, 0x00, 0x01,
                                         0x96, 0x40, 0x02, 0x30, 0xE1, 0x00, 0x08, 0x77, 0x31,
                                         0x02, 0x44, 0x0C, 0x00, 0x9A, 0x27, 0x01, 0x60, 0x0E};
constexpr size_t kExportIdentificationBytes = 17;
constexpr size_t kLongNumberReplyBytes = 32;

std::vector<uint8_t> EcuNumberFrame(const std::string& number, bool longReply) {
  std::vector<uint8_t> data;
  if (number.size() >= 3 && number[2] == 'U') {
    // Two bytes, the number, three bytes: the 'U' of the number is
    // preceded by data bytes, as the program's parser needs. A long reply
    // goes on with the identification.
    data = {0x00, 0x00};
    data.insert(data.end(), number.begin(), number.end());
    data.insert(data.end(), {0x00, 0x00, 0x00});
    if (longReply && data.size() < kLongNumberReplyBytes) {
      const size_t more = std::min(kLongNumberReplyBytes - data.size(), sizeof kIdentification);
      data.insert(data.end(), std::begin(kIdentification),
                  std::begin(kIdentification) + static_cast<long>(more));
    }
  } else {
    // The number last, where the program looks for an export one.
    size_t before = kExportIdentificationBytes;
    if (longReply) before = kLongNumberReplyBytes - std::min(number.size(), kLongNumberReplyBytes);
    before = std::min(before, sizeof kIdentification);
    data.assign(std::begin(kIdentification), std::begin(kIdentification) + static_cast<long>(before));
    data.insert(data.end(), number.begin(), number.end());
  }
  std::vector<uint8_t> frame{kFrameStart, static_cast<uint8_t>(data.size())};
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

// An empty memory still answers with a pair: the code 55, "no fault".
std::vector<uint8_t> CodesFrame(const std::vector<StoredCode>& codes) {
  const size_t count = std::min(codes.size(), kMaxCodes);
  std::vector<uint8_t> frame{kFrameStart};
  if (count == 0) {
    frame.push_back(sizeof kNoCodes);
    frame.insert(frame.end(), std::begin(kNoCodes), std::end(kNoCodes));
    return frame;
  }
  frame.push_back(static_cast<uint8_t>(2 * count));
  for (size_t i = 0; i < count; ++i) {
    frame.push_back(codes[i].code);
    frame.push_back(codes[i].starts);
  }
  return frame;
}

}  // namespace

SampleRecord SentFrame::Record() const {
  SampleRecord record;
  record[0] = static_cast<uint8_t>(values.size());
  const size_t n = std::min(values.size(), static_cast<size_t>(kSampleRecordSize - 1));
  for (size_t i = 0; i < n; ++i) record[static_cast<int>(i) + 1] = values[i];
  return record;
}

double EcuSimulator::FrameSeconds(int registerCount) {
  return static_cast<double>((registerCount + 2) * kBitsPerByte) / 9600.0;
}

// A frame queued, by its place in the stream of bytes ever queued.
struct QueuedFrame {
  uint64_t start = 0;  // of its first byte
  uint64_t end = 0;    // after its last byte
  SentFrame frame;
};

// Bytes waiting for the line, with the frames whose last byte is among them.
struct EcuSimulator::Output {
  Output(uint64_t seed, bool dragRun)
      : engine(seed, dragRun), faults(seed ^ 0xFA17FA17FA17FA17ull) {}

  std::deque<uint8_t> bytes;
  uint64_t queuedTotal = 0;   // bytes ever queued
  uint64_t writtenTotal = 0;  // bytes ever written (or dropped)
  uint64_t droppedTotal = 0;  // bytes before this never all reached a line
  std::deque<QueuedFrame> frameEnds;
  int64_t nextByteNs = 0;     // deadline of the byte at the front
  int64_t byteNs = 0;

  EngineModel engine;
  SimRandom faults;  // apart from the engine: faults never change the data
  uint64_t frameNumber = 0;
  int framesSinceFault = 0;
  uint64_t streamEnd = 0;  // queue position after the last stream byte
  int64_t lastFrameNs = 0;  // when the drag run's previous frame was made
  std::vector<uint8_t> lastValues;  // the previous frame's, for the restless engine

  // The stop byte ends the stream at once: what is left of the frame on its
  // way is never sent (nor logged, since it never fully reached the line).
  void DropStreamBytes() {
    if (streamEnd > writtenTotal) {
      const uint64_t n = streamEnd - writtenTotal;
      bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(n));
      writtenTotal += n;
    }
    while (!frameEnds.empty() && frameEnds.front().end <= writtenTotal) frameEnds.pop_front();
  }

  // The power goes: nothing queued is ever sent, and no frame on its way
  // reached the line whole.
  void DropAll() {
    writtenTotal += bytes.size();
    droppedTotal = writtenTotal;
    bytes.clear();
    frameEnds.clear();
  }

  void Queue(uint8_t b) {
    if (bytes.empty()) nextByteNs = std::max(nextByteNs, NowNs());
    bytes.push_back(b);
    ++queuedTotal;
  }
};

EcuSimulator::EcuSimulator(EcuSimulatorOptions options) : options_(std::move(options)) {}

EcuSimulator::~EcuSimulator() { Stop(); }

void EcuSimulator::SetFrameObserver(void (*observer)(const SentFrame&, void*), void* context) {
  observer_ = observer;
  observerContext_ = context;
}

bool EcuSimulator::Start() {
  if (thread_.joinable() || master_ >= 0) {
    SetError("already started");
    return false;
  }
  if (options_.baud <= 0) {
    SetError("baud must be positive");
    return false;
  }
  if (!OpenLine()) return false;
  storedCodes_ = options_.codes;
  powered_ = true;
  deaf_ = false;
  plugged_ = true;
  dead_ = false;
  firstStreamNs_ = 0;
  dipDone_ = unplugDone_ = false;
  {
    std::lock_guard<std::mutex> guard(faultLock_);
    dipAskedNs_ = unplugAskedNs_ = -1;
  }

  output_ = new Output(options_.seed, options_.dragRun);
  output_->engine.SetIdleOnly(options_.idleOnly && !options_.dragRun);
  output_->byteNs = 1000000000LL * kBitsPerByte / options_.baud;
  stopRequested_ = false;
  running_ = true;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void EcuSimulator::Stop() {
  stopRequested_ = true;
  if (thread_.joinable()) thread_.join();
  delete output_;
  output_ = nullptr;
}

// On a failure nothing is left open and no link made.
bool EcuSimulator::OpenLine() {
  termios raw{};
  cfmakeraw(&raw);
  cfsetispeed(&raw, B9600);
  cfsetospeed(&raw, B9600);
  if (openpty(&master_, &slave_, nullptr, &raw, nullptr) != 0) {
    SetError(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
    master_ = slave_ = -1;
    return false;
  }
  tcsetattr(master_, TCSANOW, &raw);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  char name[256] = {};
  if (ttyname_r(slave_, name, sizeof name) != 0) {
    SetError("cannot name the pseudo-terminal");
    CloseLine();
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(pathLock_);
    slavePath_ = name;
  }

  if (!options_.linkPath.empty()) {
    struct stat st{};
    if (lstat(options_.linkPath.c_str(), &st) == 0) {
      // Replace an old link, but never a real file someone put there.
      if (!S_ISLNK(st.st_mode) || unlink(options_.linkPath.c_str()) != 0) {
        SetError("cannot replace " + options_.linkPath + ": not a symbolic link");
        CloseLine();
        return false;
      }
    }
    if (symlink(name, options_.linkPath.c_str()) != 0) {
      SetError("cannot make the link " + options_.linkPath + ": " + std::strerror(errno));
      CloseLine();
      return false;
    }
    linkMade_ = true;
  }
  return true;
}

// The link goes first, so that whoever sees the line hang up finds no link
// to the dead device.
void EcuSimulator::CloseLine() {
  if (linkMade_) {
    unlink(options_.linkPath.c_str());
    linkMade_ = false;
  }
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
  master_ = slave_ = -1;
}

void EcuSimulator::SetError(std::string error) {
  std::lock_guard<std::mutex> guard(pathLock_);
  error_ = std::move(error);
}

std::string EcuSimulator::Error() const {
  std::lock_guard<std::mutex> guard(pathLock_);
  return error_;
}

std::string EcuSimulator::SlavePath() const {
  std::lock_guard<std::mutex> guard(pathLock_);
  return slavePath_;
}

void EcuSimulator::PowerDip(double seconds) {
  std::lock_guard<std::mutex> guard(faultLock_);
  dipAskedNs_ = SecondsToNs(seconds);
  powered_ = false;
  deaf_ = false;
}

void EcuSimulator::Unplug(double seconds) {
  std::lock_guard<std::mutex> guard(faultLock_);
  unplugAskedNs_ = SecondsToNs(seconds);
  plugged_ = false;
}

// Everything the ECU was doing ends with its power; the engine runs on.
void EcuSimulator::CutPower() {
  output_->DropAll();
  streaming_ = false;
  reply_.clear();
  commandState_ = kIdle;
  pendingRegisters_.clear();
  pendingRefused_ = false;
  pendingTests_.clear();
  ReleaseTests();
  dead_ = true;
  ++powerDips_;
}

// On the serve thread: the faults of the options as their time comes, then
// those asked for, then the ends of those under way.
void EcuSimulator::ActOnFaults(int64_t now) {
  if (firstStreamNs_ != 0) {
    if (!dipDone_ && options_.powerDipFor > 0 && now >= firstStreamNs_ + SecondsToNs(options_.powerDipAt)) {
      dipDone_ = true;
      PowerDip(options_.powerDipFor);
    }
    if (!unplugDone_ && options_.unplugFor > 0 && now >= firstStreamNs_ + SecondsToNs(options_.unplugAt)) {
      unplugDone_ = true;
      Unplug(options_.unplugFor);
    }
  }

  int64_t dipNs = -1;
  int64_t unplugNs = -1;
  {
    std::lock_guard<std::mutex> guard(faultLock_);
    std::swap(dipNs, dipAskedNs_);
    std::swap(unplugNs, unplugAskedNs_);
  }
  if (dipNs >= 0) {
    CutPower();
    powerBackNs_ = now + dipNs;
  }
  if (unplugNs >= 0) {
    CloseLine();
    replugNs_ = now + unplugNs;
  }

  if (dead_ && now >= powerBackNs_) {
    std::lock_guard<std::mutex> guard(faultLock_);
    if (dipAskedNs_ < 0) {
      // As from power-up: the parser starts afresh and waits for the
      // initialisation.
      dead_ = false;
      commandState_ = kIdle;
      deaf_ = true;
      powered_ = true;
    }
  }
  if (master_ < 0 && now >= replugNs_) {
    if (OpenLine()) {
      ++replugs_;
      std::lock_guard<std::mutex> guard(faultLock_);
      if (unplugAskedNs_ < 0) plugged_ = true;
    } else {
      replugNs_ = now + kReplugRetryNs;  // the system may be short of pseudo-terminals a moment
    }
  }
}

std::vector<SentFrame> EcuSimulator::SentFrames() const {
  std::lock_guard<std::mutex> guard(logLock_);
  return frameLog_;
}

std::vector<uint8_t> EcuSimulator::ReceivedBytes() const {
  std::lock_guard<std::mutex> guard(logLock_);
  return receivedLog_;
}

std::vector<std::pair<uint8_t, uint8_t>> EcuSimulator::TestsReceived() const {
  std::lock_guard<std::mutex> guard(logLock_);
  return testLog_;
}

bool EcuSimulator::Lacks(uint8_t registerNumber) const {
  if (!options_.twinMaf && IsRightBank(registerNumber)) return true;
  return std::find(options_.lacks.begin(), options_.lacks.end(), registerNumber) !=
         options_.lacks.end();
}

bool EcuSimulator::ReadsZero(uint8_t registerNumber) const {
  return options_.deadMaf && (registerNumber == kMafHigh || registerNumber == kMafLow);
}

// A fault still present is found again whatever a clear removed, and its
// count of starts begins anew.
void EcuSimulator::StoreDetectedFaults() {
  if (!options_.deadMaf) return;
  for (StoredCode& stored : storedCodes_) {
    if (stored.code == kMafCode) {
      stored.starts = 0;
      return;
    }
  }
  storedCodes_.push_back({kMafCode, 0});
}

void EcuSimulator::QueueReply() {
  for (uint8_t b : reply_) output_->Queue(b);
}

// An ECU that repeats its replies stops cleanly: the frame on its way is
// finished (it is already queued whole), one more whole frame follows, and
// CF says it has stopped.
void EcuSimulator::FinishOnStop() {
  if (streaming_) {
    QueueStreamFrame();
    output_->frameEnds.back().frame.afterStop = true;
  } else if (!reply_.empty()) {
    QueueReply();
  } else {
    return;
  }
  output_->Queue(kStopped);
  streaming_ = false;
  reply_.clear();
}

void EcuSimulator::HoldTests() {
  testHeld_ = !pendingTests_.empty();
  output_->engine.HoldTests(pendingTests_);
}

// The engine goes back to the ECU's own control.
void EcuSimulator::ReleaseTests() {
  if (!testHeld_) return;
  testHeld_ = false;
  output_->engine.HoldTests({});
  ++testReleases_;
}

void EcuSimulator::HandleByte(uint8_t b) {
  Output& out = *output_;
  if (deaf_) {
    // Woken from a power dip, the ECU listens for its own initialisation
    // and for nothing else: no echo, no command taken.
    if (!(commandState_ == kSeenFfFf && b == (options_.initEd ? kLateInit : kInit))) {
      if (b != kFrameStart) {
        commandState_ = kIdle;
      } else {
        commandState_ = commandState_ == kIdle ? kSeenFf : kSeenFfFf;
      }
      return;
    }
    deaf_ = false;  // and the initialisation is answered below as always
  }
  // The ECU's own echo is of the command bytes it takes; the fault's extra
  // copy comes before it, for every byte.
  const uint8_t inverted = static_cast<uint8_t>(~b);
  if (options_.echoInverted) out.Queue(inverted);

  switch (commandState_) {
    case kSeenFf:
      if (b == kFrameStart) {
        commandState_ = kSeenFfFf;
        return;
      }
      break;
    case kSeenFfFf:
      // The other kind's initialisation is no command to this ECU: it is
      // read afresh below, as any byte that breaks a command.
      if (b == (options_.initEd ? kLateInit : kInit)) {
        commandState_ = kIdle;
        streaming_ = false;
        reply_.clear();
        ReleaseTests();
        if (!options_.noInit) {
          out.Queue(inverted);
          ++initAnswers_;
        }
        return;
      }
      if (b == kFrameStart) return;  // FF FF FF EF still ends in FF FF EF
      break;
    case kSeenD0:
    case kSeenD1:
      if (b == kTerminator) {
        if (commandState_ == kSeenD0) {
          reply_ = EcuNumberFrame(options_.ecuNumber, options_.longNumber);
          ++numberAnswers_;
        } else {
          StoreDetectedFaults();
          reply_ = CodesFrame(storedCodes_);
        }
        commandState_ = kIdle;
        QueueReply();
        // One command at a time: a repeated reply takes the place of the stream.
        if (options_.repeatReplies) {
          streaming_ = false;
        } else {
          reply_.clear();
        }
        return;
      }
      break;
    case kSeenC1:
      if (b == kTerminator) {
        commandState_ = kIdle;
        storedCodes_.clear();
        return;
      }
      break;
    case kExpectRegister:
      if (Lacks(b)) {
        out.Queue(kNoSuchRegister);
        pendingRefused_ = true;
      } else {
        out.Queue(b);
        if (pendingRegisters_.size() < kMaxRegisters) pendingRegisters_.push_back(b);
      }
      commandState_ = kInRequest;
      return;
    case kExpectTestNumber:
      out.Queue(b);
      testNumber_ = b;
      commandState_ = kExpectTestValue;
      return;
    case kExpectTestValue:
      // Any test is taken: an ECU acts on those it has and ignores the rest.
      out.Queue(b);
      if (pendingTests_.size() < kMaxTests) pendingTests_.emplace_back(testNumber_, b);
      {
        std::lock_guard<std::mutex> guard(logLock_);
        testLog_.emplace_back(testNumber_, b);
      }
      commandState_ = kInRequest;
      return;
    case kInRequest:
      if (b == kRegisterRead || b == kActiveTest) {
        out.Queue(inverted);
        commandState_ = b == kRegisterRead ? kExpectRegister : kExpectTestNumber;
        return;
      }
      if (b == kTerminator) {
        // The stream starts at once; when the ECU has none of the
        // registers (or, silent, lacks any), nothing comes. The request's
        // tests take the place of those held, and hold with or without a
        // stream.
        commandState_ = kIdle;
        streamRegisters_ = pendingRegisters_;
        streaming_ = !streamRegisters_.empty() && !(options_.lacksSilent && pendingRefused_);
        if (firstStreamNs_ == 0 && !streamRegisters_.empty()) firstStreamNs_ = NowNs();
        if (streaming_) reply_.clear();
        HoldTests();
        return;
      }
      break;
    default:
      break;
  }

  // Idle, or a byte that broke the command in progress: read it afresh.
  commandState_ = kIdle;
  switch (b) {
    case kStop:
      if (options_.repeatReplies) {
        FinishOnStop();
      } else {
        if (streaming_) out.DropStreamBytes();
        streaming_ = false;
      }
      ReleaseTests();
      break;
    case kFrameStart:
      commandState_ = kSeenFf;
      break;
    case kEcuNumberRead:
      out.Queue(inverted);
      commandState_ = kSeenD0;
      break;
    case kCodesRead:
      out.Queue(inverted);
      commandState_ = kSeenD1;
      break;
    case kCodesClear:
      out.Queue(inverted);
      commandState_ = kSeenC1;
      break;
    case kRegisterRead:
    case kActiveTest:
      out.Queue(inverted);
      pendingRegisters_.clear();
      pendingRefused_ = false;
      pendingTests_.clear();
      commandState_ = b == kRegisterRead ? kExpectRegister : kExpectTestNumber;
      break;
    default:
      break;
  }
}

void EcuSimulator::QueueStreamFrame() {
  Output& out = *output_;
  const int n = static_cast<int>(streamRegisters_.size());
  double dt = FrameSeconds(n);
  if (options_.dragRun) {
    // A timed run must keep time with the clock on the wall: the car moves
    // on by the time that really passed, so a line or a simulator held up
    // costs frames, as a real ECU's would, and never slows the car down.
    const int64_t now = NowNs();
    if (out.lastFrameNs != 0) dt = std::clamp((now - out.lastFrameNs) * 1e-9, 0.0, 1.0);
    out.lastFrameNs = now;
  }
  out.engine.Advance(dt);

  SentFrame frame;
  frame.number = out.frameNumber++;
  frame.values.reserve(streamRegisters_.size());
  for (uint8_t nn : streamRegisters_) frame.values.push_back(ReadsZero(nn) ? 0 : out.engine.Register(nn));
  if (options_.restless) {
    // The switch banks follow the engine: a switch does not chatter. Nor
    // does a dead sensor.
    if (out.lastValues.size() == frame.values.size())
      for (size_t i = 0; i < frame.values.size(); ++i)
        if (!IsSwitchBank(streamRegisters_[i]) && !ReadsZero(streamRegisters_[i]) &&
            frame.values[i] == out.lastValues[i])
          frame.values[i] ^= 1;
    out.lastValues = frame.values;
  }

  // Faults are spaced out so that each one's effect at the receiver can be
  // told apart: a cut frame may also cost the frame after it.
  const bool faultAllowed = out.framesSinceFault >= 3;
  int sendCount = n;
  if (faultAllowed && options_.cutFrames && out.faults.Chance(0.1)) {
    frame.fault = FrameFault::Cut;
    sendCount = out.faults.Integer(0, std::max(0, n - 1));
  } else if (faultAllowed && options_.ffInFrame && out.faults.Chance(0.1) && n > 0) {
    // A register at full scale (or a bank with every bit set): FF as data,
    // sent and logged like any other value.
    frame.fault = FrameFault::FfInFrame;
    frame.values[static_cast<size_t>(out.faults.Integer(0, n - 1))] = 0xFF;
  }
  out.framesSinceFault = frame.fault == FrameFault::None ? out.framesSinceFault + 1 : 0;

  const uint64_t start = out.queuedTotal;
  out.Queue(kFrameStart);
  out.Queue(static_cast<uint8_t>(n));
  for (int i = 0; i < sendCount; ++i) out.Queue(frame.values[static_cast<size_t>(i)]);
  out.frameEnds.push_back({start, out.queuedTotal, std::move(frame)});

  // Stray bytes only after a frame that ended cleanly: after a cut frame
  // the receiver would take them as data.
  if (options_.strayBytes && sendCount == n && out.faults.Chance(0.25)) {
    const int strays = out.faults.Integer(1, 3);
    for (int i = 0; i < strays; ++i) out.Queue(static_cast<uint8_t>(out.faults.Integer(0, 0xFE)));
  }
  out.streamEnd = out.queuedTotal;
}

void EcuSimulator::Serve() {
  Output& out = *output_;
  const int64_t started = NowNs();
  const int64_t closeAt =
      options_.closeAfterSeconds > 0
          ? started + static_cast<int64_t>(options_.closeAfterSeconds * 1e9)
          : INT64_MAX;
  bool stalled = false;  // the slave's buffer was full at the last write

  while (!stopRequested_) {
    int64_t now = NowNs();
    if (now >= closeAt) break;
    ActOnFaults(now);
    if (master_ < 0 || out.bytes.empty()) stalled = false;  // nothing to wait for room for
    // A dip asked for from another thread holds from the moment it was
    // asked, though it is acted on at the next turn.
    const bool powered = powered_.load();

    if (powered && out.bytes.empty()) {
      if (streaming_) {
        QueueStreamFrame();
      } else if (!reply_.empty()) {
        QueueReply();
      }
    }

    // Write every byte whose deadline has come. After a long stall (nobody
    // reading, or this thread held up) pacing starts afresh instead of
    // bursting the backlog.
    // Unplugged, the bytes go nowhere, at the same pace: the ECU does not
    // know the adapter went. A frame any byte of which went nowhere never
    // reached a line, and is not logged.
    if (powered && !out.bytes.empty() && now >= out.nextByteNs) {
      if (now - out.nextByteNs > 20000000) out.nextByteNs = now;
      const int64_t due = (now - out.nextByteNs) / out.byteNs + 1;
      uint8_t chunk[512];
      const size_t count =
          std::min({out.bytes.size(), static_cast<size_t>(due), sizeof chunk});
      std::copy_n(out.bytes.begin(), count, chunk);
      const bool unplugged = master_ < 0;
      const ssize_t written = unplugged ? static_cast<ssize_t>(count) : write(master_, chunk, count);
      if (written > 0) {
        stalled = false;
        out.bytes.erase(out.bytes.begin(), out.bytes.begin() + written);
        out.writtenTotal += static_cast<uint64_t>(written);
        if (unplugged) out.droppedTotal = out.writtenTotal;
        out.nextByteNs += written * out.byteNs;
        while (!out.frameEnds.empty() && out.frameEnds.front().end <= out.writtenTotal) {
          const QueuedFrame& queued = out.frameEnds.front();
          if (queued.start >= out.droppedTotal) {
            if (observer_ != nullptr) observer_(queued.frame, observerContext_);
            {
              std::lock_guard<std::mutex> guard(logLock_);
              if (frameLog_.size() < options_.frameLogLimit) frameLog_.push_back(queued.frame);
            }
            ++framesSent_;
          }
          out.frameEnds.pop_front();
        }
      } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        stalled = true;
      }
    }

    // Sleep until the next byte is due, a command arrives, (when the
    // slave's buffer is full) there is room again, or a fault begins or
    // ends. Unplugged, there is no line to wait on (poll skips fd -1).
    int64_t waitNs = 50000000;
    if (!out.bytes.empty() && !stalled) waitNs = std::max<int64_t>(0, out.nextByteNs - NowNs());
    if ((streaming_ || !reply_.empty()) && out.bytes.empty()) waitNs = 0;
    int64_t nextEvent = closeAt;
    if (dead_) nextEvent = std::min(nextEvent, powerBackNs_);
    if (master_ < 0) nextEvent = std::min(nextEvent, replugNs_);
    if (firstStreamNs_ != 0 && !dipDone_ && options_.powerDipFor > 0)
      nextEvent = std::min(nextEvent, firstStreamNs_ + SecondsToNs(options_.powerDipAt));
    if (firstStreamNs_ != 0 && !unplugDone_ && options_.unplugFor > 0)
      nextEvent = std::min(nextEvent, firstStreamNs_ + SecondsToNs(options_.unplugAt));
    waitNs = std::min(waitNs, std::max<int64_t>(0, nextEvent - NowNs()));
    pollfd pfd{master_, static_cast<short>(POLLIN | (stalled ? POLLOUT : 0)), 0};
    const timespec timeout{static_cast<time_t>(waitNs / 1000000000),
                           static_cast<long>(waitNs % 1000000000)};
    const int ready = ppoll(&pfd, 1, &timeout, nullptr);
    if (ready > 0 && (pfd.revents & POLLIN)) {
      uint8_t input[256];
      const ssize_t got = read(master_, input, sizeof input);
      if (got > 0) {
        {
          std::lock_guard<std::mutex> guard(logLock_);
          receivedLog_.insert(receivedLog_.end(), input, input + got);
        }
        // A dead ECU takes in nothing: the bytes are lost on the line.
        if (powered_.load())
          for (ssize_t i = 0; i < got; ++i) HandleByte(input[i]);
      }
    } else if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
      // Not expected while the slave is held open; do not spin if it happens.
      const timespec pause{0, 5000000};
      nanosleep(&pause, nullptr);
    }
  }

  // The line goes away: the slave device vanishes with the pair.
  streaming_ = false;
  CloseLine();
  running_ = false;
}
