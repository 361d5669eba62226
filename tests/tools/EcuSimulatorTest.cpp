// The simulator in-process, seen through the program's own link layer: the
// handshake, the ECU number, the echo, the stream, the self-diagnosis, the
// active tests, and every fault as the receiver meets it; and the ways
// real ECUs differ (the late initialisation, the long number reply, the
// right bank, silence after a refused register); power dips and the
// adapter unplugged.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "tests/tools/ToolsTestSupport.h"
#include "tools/ecusim/EcuSimulator.h"
#include "tools/ecusim/EngineModel.h"

using namespace tools_test;

namespace {

bool SendRaw(ConsultSession& session, const std::vector<uint8_t>& bytes) {
  return session.Send(bytes.data(), static_cast<int32_t>(bytes.size())) == Result::kOk;
}

// Reads the raw line onto bytes until done(bytes) holds.
template <class Done>
bool ReadRawUntil(ConsultSession& session, std::vector<uint8_t>& bytes, Done done) {
  return WaitFor([&] {
    const int32_t waiting = session.WaitInput(5);
    if (waiting > 0) {
      uint8_t buffer[1025];
      int32_t got = 0;
      (void)session.Receive(buffer, std::min(waiting, 1024), &got);
      bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return done(bytes);
  });
}

auto Holds(uint8_t b) {
  return [b](const std::vector<uint8_t>& bytes) {
    return std::find(bytes.begin(), bytes.end(), b) != bytes.end();
  };
}

// A line to a running simulator, opened and set up as the program does.
struct Bench {
  explicit Bench(EcuSimulatorOptions options) : simulator(std::move(options)), session(port) {
    started = simulator.Start();
    if (!started) return;
    port.SetDevicePath(1, simulator.SlavePath());
    opened = session.OpenPort(1) == Result::kOk;
  }
  ~Bench() {
    (void)session.ClosePort();  // also when a test closed it already
    simulator.Stop();
  }
  // The simulator logs a frame just after writing its last byte, so the
  // receiver may hold a frame a moment before the log does.
  std::vector<SentFrame> SentAtLeast(size_t count) {
    EXPECT_TRUE(WaitFor([&] { return simulator.SentFrameCount() >= count; }));
    return simulator.SentFrames();
  }
  bool StartStream() { return Send(StreamRequest()); }
  bool Send(const std::vector<uint8_t>& bytes) { return SendRaw(session, bytes); }
  template <class Done>
  bool ReadUntil(std::vector<uint8_t>& bytes, Done done) {
    return ReadRawUntil(session, bytes, done);
  }
  bool ReadAtLeast(std::vector<uint8_t>& bytes, size_t count) {
    return ReadUntil(bytes, [count](const std::vector<uint8_t>& b) { return b.size() >= count; });
  }

  EcuSimulator simulator;
  SerialPort port;
  ConsultSession session;
  bool started = false;
  bool opened = false;
};

EcuSimulatorOptions Fast() {
  EcuSimulatorOptions options;
  options.baud = 115200;  // twelve times the real line: quicker tests, same bytes
  return options;
}

bool IsDataFrame(const SampleRecord& r) { return r[0] == kFrameLength && r[19] == 0; }

// The stream request's echo: the read command inverted and the register.
constexpr size_t kRequestEchoBytes = 2 * kStreamRegisterCount;

bool Bit(const char* csvColumn, const SampleRecord& record) {
  for (const BitColumn& bit : kBitColumns)
    if (std::string(bit.csvColumn) == csvColumn) return BitIsSet(bit, record);
  ADD_FAILURE() << "no bit " << csvColumn;
  return false;
}

int32_t Rpm(const SampleRecord& record) {
  int32_t max = 0, min = 0;
  return RpmFromRaw(record[RecordByteOf(0x00)], record[RecordByteOf(0x01)], max, min);
}

// The throttle closed, the car standing, the engine not cranking.
bool Idling(const SampleRecord& record) {
  return Bit("CLSD/THLPOS", record) && !Bit("Cranking Signal", record) &&
         record[RecordByteOf(0x0B)] == 0;
}

// The other end went: what a program holding the slave sees.
bool HungUp(int fd) {
  pollfd pfd{fd, POLLIN, 0};
  return poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLHUP) != 0;
}

bool Exists(const std::string& path) {
  struct stat st{};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(EcuSimulator, AnswersInitialisationAndEcuNumber) {
  Bench bench(EcuSimulatorOptions{});
  ASSERT_TRUE(bench.started) << bench.simulator.Error();
  ASSERT_TRUE(bench.opened);
  EXPECT_EQ(bench.session.InitializeEcu(), Result::kOk);
  EXPECT_EQ(bench.simulator.InitAnswers(), 1u);
  char number[6] = {};
  ASSERT_EQ(bench.session.ReadEcuNumber(number), Result::kOk);
  EXPECT_STREQ(number, "8JU17");
  EXPECT_EQ(bench.simulator.EcuNumberAnswers(), 1u);
  // The program's exact bytes arrived: 30 FF FF EF, then 30 D0 F0 (and
  // whatever ends the reply).
  const std::vector<uint8_t> expected{0x30, 0xFF, 0xFF, 0xEF, 0x30, 0xD0, 0xF0};
  const std::vector<uint8_t> received = bench.simulator.ReceivedBytes();
  ASSERT_GE(received.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), received.begin()));
}

TEST(EcuSimulator, EcuNumberOptionInTheHomeAndTheExportLayout) {
  EcuSimulatorOptions options;
  options.ecuNumber = "12U34";
  {
    Bench bench(options);
    ASSERT_TRUE(bench.opened);
    ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
    char number[6] = {};
    ASSERT_EQ(bench.session.ReadEcuNumber(number), Result::kOk);
    EXPECT_STREQ(number, "12U34");
  }
  // Without a 'U' in the middle: the echo, then 22 bytes of identification
  // ending in the number, and no 0x55 anywhere.
  options.ecuNumber = "ABCDE";
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  ASSERT_TRUE(bench.Send({0xD0, 0xF0}));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(bench.ReadAtLeast(bytes, 3 + 22));
  ASSERT_EQ(bytes.size(), 3u + 22);
  EXPECT_EQ(bytes[0], 0x2F);
  EXPECT_EQ(bytes[1], 0xFF);
  EXPECT_EQ(bytes[2], 22);
  EXPECT_EQ(std::string(bytes.end() - 5, bytes.end()), "ABCDE");
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0x55), 0);
  EXPECT_LT(std::count(bytes.begin() + 3, bytes.end() - 5, 0x00), 17);
  EXPECT_EQ(bench.simulator.EcuNumberAnswers(), 1u);
}

TEST(EcuSimulator, StreamDeliversTheLoggedFramesInOrder) {
  Bench bench(Fast());
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  ASSERT_TRUE(bench.StartStream());
  FrameCollector collector(bench.session);
  ASSERT_TRUE(collector.Collect(300));

  const std::vector<SentFrame> sent = bench.SentAtLeast(collector.frames.size());
  ASSERT_GE(sent.size(), collector.frames.size());
  for (size_t k = 0; k < collector.frames.size(); ++k) {
    EXPECT_EQ(sent[k].number, k);
    EXPECT_EQ(sent[k].fault, FrameFault::None);
    ASSERT_EQ(collector.frames[k], sent[k].Record()) << "frame " << k;
    ASSERT_TRUE(IsDataFrame(collector.frames[k])) << "frame " << k;
  }
  // Exactly the request's echo and frames on a clean line: 20 bytes each,
  // after the acknowledgement that InitializeEcu consumed.
  EXPECT_LE(collector.bytesRead, kRequestEchoBytes + (collector.frames.size() + 1) * 20);
}

TEST(EcuSimulator, SameSeedSameFramesOtherSeedOtherFrames) {
  auto firstFrames = [](uint64_t seed) {
    EcuSimulatorOptions options = Fast();
    options.seed = seed;
    Bench bench(options);
    EXPECT_TRUE(bench.opened);
    EXPECT_EQ(bench.session.InitializeEcu(), Result::kOk);
    EXPECT_TRUE(bench.StartStream());
    FrameCollector collector(bench.session);
    EXPECT_TRUE(collector.Collect(150));
    collector.frames.resize(150);
    return collector.frames;
  };
  const std::vector<SampleRecord> a = firstFrames(7);
  EXPECT_EQ(firstFrames(7), a);
  EXPECT_NE(firstFrames(8), a);
}

TEST(EcuSimulator, AnyRegisterListGivesFramesOfThatLength) {
  Bench bench(Fast());
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  ASSERT_TRUE(bench.Send({0x30, 0x5A, 0x08, 0x5A, 0x0C, 0x5A, 0x99, 0xF0}));
  ASSERT_TRUE(WaitFor([&] { return bench.simulator.SentFrameCount() >= 5; }));

  // Read the raw line: the echo, then FF 03, coolant, battery, an unknown
  // register (0).
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(bench.ReadAtLeast(bytes, 6 + 25));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 6),
            (std::vector<uint8_t>{0xA5, 0x08, 0xA5, 0x0C, 0xA5, 0x99}));
  const std::vector<SentFrame> sent = bench.simulator.SentFrames();
  for (size_t k = 0; k < 5; ++k) {
    const std::vector<uint8_t> wire(bytes.begin() + static_cast<long>(6 + 5 * k),
                                    bytes.begin() + static_cast<long>(6 + 5 * k + 5));
    ASSERT_EQ(sent[k].values.size(), 3u);
    EXPECT_EQ(wire, (std::vector<uint8_t>{0xFF, 0x03, sent[k].values[0], sent[k].values[1], 0x00}));
    EXPECT_GT(sent[k].values[1], 100);  // a battery near 12 V or more
  }
}

TEST(EcuSimulator, LackedRegistersAreRefusedInTheEchoAndLeftOutOfTheStream) {
  EcuSimulatorOptions options = Fast();
  options.lacks = {0x17, 0x1A};
  Bench bench(options);
  ASSERT_TRUE(bench.opened);

  // Only registers it lacks: the echo, and no stream. A clear's echo right
  // behind it shows that nothing came between.
  ASSERT_TRUE(bench.Send({0x30, 0x5A, 0x17, 0x5A, 0x1A, 0xF0, 0xC1, 0xF0}));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(bench.ReadAtLeast(bytes, 5));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xA5, 0xFE, 0xA5, 0xFE, 0x3E}));
  EXPECT_FALSE(bench.simulator.Streaming());

  // Some lacked: the frames carry the others, in request order.
  ASSERT_TRUE(bench.Send({0x30, 0x5A, 0x0C, 0x5A, 0x17, 0x5A, 0x08, 0x5A, 0x1A, 0xF0}));
  ASSERT_TRUE(WaitFor([&] { return bench.simulator.SentFrameCount() >= 3; }));
  bytes.clear();
  ASSERT_TRUE(bench.ReadAtLeast(bytes, 8 + 3 * 4));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8),
            (std::vector<uint8_t>{0xA5, 0x0C, 0xA5, 0xFE, 0xA5, 0x08, 0xA5, 0xFE}));
  const std::vector<SentFrame> sent = bench.simulator.SentFrames();
  for (size_t k = 0; k < 3; ++k) {
    ASSERT_EQ(sent[k].values.size(), 2u);
    const std::vector<uint8_t> wire(bytes.begin() + static_cast<long>(8 + 4 * k),
                                    bytes.begin() + static_cast<long>(8 + 4 * k + 4));
    EXPECT_EQ(wire, (std::vector<uint8_t>{0xFF, 0x02, sent[k].values[0], sent[k].values[1]}));
    EXPECT_GT(sent[k].values[0], 100);  // the battery
  }
}

TEST(EcuSimulator, StopByteEndsTheStream) {
  Bench bench(Fast());
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  ASSERT_TRUE(bench.StartStream());
  FrameCollector collector(bench.session);
  ASSERT_TRUE(collector.Collect(10));
  ASSERT_TRUE(bench.simulator.Streaming());

  // The stop byte ends the stream at once; ReadEcuNumber then purges what
  // was already on the line and gets its reply, and no frame follows.
  ASSERT_EQ(bench.session.StopStream(), Result::kOk);
  ASSERT_TRUE(WaitFor([&] { return !bench.simulator.Streaming(); }));
  char number[6] = {};
  ASSERT_EQ(bench.session.ReadEcuNumber(number), Result::kOk);
  const uint64_t framesAfterStop = bench.simulator.SentFrameCount();
  ASSERT_EQ(bench.session.ReadEcuNumber(number), Result::kOk);
  EXPECT_STREQ(number, "8JU17");
  EXPECT_EQ(bench.simulator.SentFrameCount(), framesAfterStop);

  // A new request streams again, continuing the engine's run.
  ASSERT_TRUE(bench.StartStream());
  FrameCollector again(bench.session);
  ASSERT_TRUE(again.Collect(3));
  const std::vector<SentFrame> sent = bench.SentAtLeast(framesAfterStop + 3);
  EXPECT_EQ(again.frames[0], sent[framesAfterStop].Record());
}

TEST(EcuSimulator, PacedNoFasterThanTheBaud) {
  // 9600 baud, ten bits a byte: a 20-byte frame takes 20.83 ms on the line.
  // Only a lower bound is asserted: a slow machine can only make it later.
  Bench bench(EcuSimulatorOptions{});
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  ASSERT_TRUE(bench.StartStream());
  FrameCollector collector(bench.session);
  ASSERT_TRUE(collector.Collect(1));
  const Clock::time_point first = Clock::now();
  ASSERT_TRUE(collector.Collect(25));
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - first).count();
  EXPECT_GE(ms, 24 * 20.83 * 0.95);
  EXPECT_DOUBLE_EQ(EcuSimulator::FrameSeconds(18), 20 * 10 / 9600.0);
}

TEST(EcuSimulator, NoInitNeverAnswers) {
  EcuSimulatorOptions options = Fast();
  options.noInit = true;
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  EXPECT_EQ(bench.session.InitializeEcu(), Result::kFailed);
  EXPECT_EQ(bench.session.ecuFound.load(), 0);
  EXPECT_EQ(bench.simulator.InitAnswers(), 0u);
}

TEST(EcuSimulator, EchoedCommandsStillInitialiseReadAndStream) {
  EcuSimulatorOptions options = Fast();
  options.echoInverted = true;
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  char number[6] = {};
  ASSERT_EQ(bench.session.ReadEcuNumber(number), Result::kOk);
  EXPECT_STREQ(number, "8JU17");
  ASSERT_TRUE(bench.StartStream());
  FrameCollector collector(bench.session);
  ASSERT_TRUE(collector.Collect(50));
  // The echo of the request (it holds A5 FF for register 00) starts no frame.
  const std::vector<SentFrame> sent = bench.SentAtLeast(collector.frames.size());
  for (size_t k = 0; k < collector.frames.size(); ++k)
    ASSERT_EQ(collector.frames[k], sent[k].Record()) << "frame " << k;
}

TEST(EcuSimulator, SelfDiagnosisReadsTheStoredCodesAndAClearEmptiesThem) {
  EcuSimulatorOptions options = Fast();
  options.codes = {{0x12, 3}, {0xA3, 255}};
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  // Read, clear, read: each command echoed, each read a frame of pairs, and
  // an empty memory the pair 55 00.
  ASSERT_TRUE(bench.Send({0xD1, 0xF0, 0xC1, 0xF0, 0xD1, 0xF0}));
  const std::vector<uint8_t> expected{0x2E, 0xFF, 0x04, 0x12, 0x03, 0xA3, 0xFF,
                                      0x3E, 0x2E, 0xFF, 0x02, 0x55, 0x00};
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(bench.ReadAtLeast(bytes, expected.size()));
  EXPECT_EQ(bytes, expected);
}

TEST(EcuSimulator, DeadMafReadsZeroAndItsCodeReturnsAfterAClear) {
  EcuSimulatorOptions options = Fast();
  options.deadMaf = true;
  options.restless = true;  // everything else moves; the dead sensor does not
  options.codes = {{0x34, 5}};
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  ASSERT_TRUE(bench.Send({0xD1, 0xF0, 0xC1, 0xF0, 0xD1, 0xF0}));
  const std::vector<uint8_t> expected{0x2E, 0xFF, 0x04, 0x34, 0x05, 0x12, 0x00,
                                      0x3E, 0x2E, 0xFF, 0x02, 0x12, 0x00};
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(bench.ReadAtLeast(bytes, expected.size()));
  EXPECT_EQ(bytes, expected);

  ASSERT_TRUE(bench.StartStream());
  FrameCollector collector(bench.session);
  ASSERT_TRUE(collector.Collect(20));
  for (const SampleRecord& r : collector.frames) {
    ASSERT_TRUE(IsDataFrame(r));
    EXPECT_EQ(r[3], 0);  // registers 04 and 05
    EXPECT_EQ(r[4], 0);
    EXPECT_NE(r[1] | r[2], 0);  // while the engine runs
  }
}

TEST(EcuSimulator, RepeatedRepliesAndTheStreamEndWithOneMoreFrameAndCf) {
  EcuSimulatorOptions options = Fast();
  options.repeatReplies = true;
  Bench bench(options);
  ASSERT_TRUE(bench.opened);

  // The self-diagnosis reply again and again; after the stop byte one more
  // whole reply and CF, then nothing until the next command's echo.
  const std::vector<uint8_t> reply{0xFF, 0x02, 0x55, 0x00};
  ASSERT_TRUE(bench.Send({0xD1, 0xF0}));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(bench.ReadAtLeast(bytes, 1 + 3 * reply.size()));
  const size_t repliesBeforeStop = (bytes.size() - 1) / reply.size();
  ASSERT_TRUE(bench.Send({0x30}));
  ASSERT_TRUE(bench.ReadUntil(bytes, Holds(0xCF)));
  ASSERT_TRUE(bench.Send({0xC1, 0xF0}));
  ASSERT_TRUE(bench.ReadUntil(bytes, Holds(0x3E)));
  ASSERT_EQ(bytes.size() % reply.size(), 3u) << "a reply cut short";
  const size_t replies = (bytes.size() - 3) / reply.size();
  EXPECT_GT(replies, repliesBeforeStop);
  EXPECT_EQ(bytes.front(), 0x2E);
  for (size_t k = 0; k < replies; ++k)
    ASSERT_TRUE(std::equal(reply.begin(), reply.end(), bytes.begin() + static_cast<long>(1 + 4 * k)))
        << "reply " << k;
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 2, bytes.end()), (std::vector<uint8_t>{0xCF, 0x3E}));

  // The stream ends the same way.
  ASSERT_TRUE(bench.StartStream());
  bytes.clear();
  ASSERT_TRUE(bench.ReadAtLeast(bytes, kRequestEchoBytes + 3 * 20));
  const size_t framesBeforeStop = (bytes.size() - kRequestEchoBytes) / 20;
  ASSERT_TRUE(bench.Send({0x30}));
  // Whole frames from the echo on, then the first byte that starts none.
  size_t end = kRequestEchoBytes;
  ASSERT_TRUE(bench.ReadUntil(bytes, [&](const std::vector<uint8_t>& b) {
    while (end < b.size() && b[end] == 0xFF && end + 20 <= b.size()) end += 20;
    return end < b.size() && b[end] != 0xFF;
  }));
  EXPECT_EQ(bytes[end], 0xCF);
  ASSERT_TRUE(bench.Send({0xC1, 0xF0}));
  ASSERT_TRUE(bench.ReadAtLeast(bytes, end + 2));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + static_cast<long>(end), bytes.end()),
            (std::vector<uint8_t>{0xCF, 0x3E}));
  EXPECT_FALSE(bench.simulator.Streaming());

  // Every frame on the line is in the log, the one after the stop last.
  const size_t frames = (end - kRequestEchoBytes) / 20;
  EXPECT_GT(frames, framesBeforeStop);
  const std::vector<SentFrame> sent = bench.SentAtLeast(frames);
  ASSERT_EQ(sent.size(), frames);
  for (size_t k = 0; k < frames; ++k) {
    const auto at = bytes.begin() + static_cast<long>(kRequestEchoBytes + 20 * k);
    EXPECT_EQ(std::vector<uint8_t>(at, at + 2), (std::vector<uint8_t>{0xFF, kFrameLength}));
    EXPECT_EQ(std::vector<uint8_t>(at + 2, at + 20), sent[k].values) << "frame " << k;
    EXPECT_EQ(sent[k].afterStop, k + 1 == frames) << "frame " << k;
  }
}

TEST(EcuSimulator, StrayBytesBetweenFramesAreIgnored) {
  EcuSimulatorOptions options = Fast();
  options.strayBytes = true;
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  ASSERT_TRUE(bench.StartStream());
  FrameCollector collector(bench.session);
  ASSERT_TRUE(collector.Collect(200));
  const std::vector<SentFrame> sent = bench.SentAtLeast(collector.frames.size());
  for (size_t k = 0; k < collector.frames.size(); ++k)
    ASSERT_EQ(collector.frames[k], sent[k].Record()) << "frame " << k;
  EXPECT_GT(collector.bytesRead, kRequestEchoBytes + (collector.frames.size() + 1) * 20);  // strays did come
}

TEST(EcuSimulator, FramesWithRegistersReading255AllArrive) {
  EcuSimulatorOptions options = Fast();
  options.ffInFrame = true;
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  ASSERT_TRUE(bench.StartStream());
  FrameCollector collector(bench.session);
  ASSERT_TRUE(collector.Collect(200));

  std::vector<SentFrame> sent = bench.SentAtLeast(collector.frames.size());
  sent.resize(collector.frames.size());
  EXPECT_EQ(collector.frames, Records(sent));
  size_t with255 = 0;
  for (const SentFrame& f : sent) {
    if (f.fault != FrameFault::FfInFrame) continue;
    ++with255;
    EXPECT_NE(std::count(f.values.begin(), f.values.end(), 0xFF), 0) << "frame " << f.number;
  }
  EXPECT_GT(with255, 3u);
}

TEST(EcuSimulator, CutFrameLosesItselfAndAtMostTheNextFrame) {
  EcuSimulatorOptions options = Fast();
  options.cutFrames = true;
  options.ffInFrame = true;  // registers at 255 must not make a cut cost more
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  ASSERT_TRUE(bench.StartStream());
  FrameCollector collector(bench.session);
  ASSERT_TRUE(collector.Collect(200));

  // Walk the sent frames beside the received ones: each received sample is
  // the next whole frame sent, and only a frame right after a cut one may
  // be missing besides the cut frames themselves.
  const std::vector<SampleRecord>& received = collector.frames;
  size_t next = 0;
  size_t cuts = 0;
  bool afterCut = false;
  for (const SentFrame& f : bench.SentAtLeast(received.size() * 2)) {
    if (next == received.size()) break;
    if (f.fault == FrameFault::Cut) {
      ++cuts;
      afterCut = true;
      continue;
    }
    if (received[next] == f.Record()) {
      ++next;
    } else {
      ASSERT_TRUE(afterCut) << "frame " << f.number << " was lost";
    }
    afterCut = false;
  }
  EXPECT_EQ(next, received.size()) << "a received sample is no frame sent";
  EXPECT_GT(cuts, 3u);
}

TEST(EcuSimulator, CloseAfterTakesTheLineAway) {
  EcuSimulatorOptions options = Fast();
  options.closeAfterSeconds = 0.2;
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  const std::string path = bench.simulator.SlavePath();
  ASSERT_TRUE(WaitFor([&] { return !bench.simulator.Running(); }));
  // The program's port is still open but the ECU is gone.
  EXPECT_EQ(bench.session.InitializeEcu(), Result::kFailed);
  SerialPort other;
  other.SetDevicePath(1, path);
  ConsultSession late(other);
  EXPECT_EQ(late.OpenPort(1), Result::kFailed);
}

TEST(EcuSimulator, LinkIsMadeReplacedAndRemoved) {
  TempDir dir;
  EcuSimulatorOptions options;
  options.linkPath = dir.Path("ttyECU");
  ASSERT_EQ(symlink("/nonexistent", options.linkPath.c_str()), 0);  // an old link
  {
    EcuSimulator simulator(options);
    ASSERT_TRUE(simulator.Start()) << simulator.Error();
    char target[256] = {};
    ASSERT_GT(readlink(options.linkPath.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), simulator.SlavePath());
    simulator.Stop();
    struct stat st{};
    EXPECT_NE(lstat(options.linkPath.c_str(), &st), 0);
    simulator.Stop();  // again: nothing happens
  }
  // A real file is never replaced.
  { std::ofstream(options.linkPath) << "keep"; }
  EcuSimulator simulator(options);
  EXPECT_FALSE(simulator.Start());
  EXPECT_FALSE(simulator.Error().empty());
  EXPECT_EQ(ReadText(options.linkPath), "keep");
}

TEST(EcuSimulator, ExecutableTakesCodesLackedRegistersAndTheDeadMaf) {
  TempDir dir;
  Process sim(TORVANE_ECU_SIM,
              {"--baud", "115200", "--codes", "34:3,0xA3:250", "--lacks", "17,1a", "--dead-maf"},
              dir, "sim");
  ASSERT_TRUE(WaitFor([&] { return !SplitLines(sim.Out()).empty(); })) << sim.Err();
  SerialPort port;
  port.SetDevicePath(1, SplitLines(sim.Out())[0]);
  ConsultSession session(port);
  ASSERT_EQ(session.OpenPort(1), Result::kOk);
  // Code 34 as the lamp blinks it is the byte 0x34; a request of lacked
  // registers only streams nothing.
  ASSERT_TRUE(SendRaw(session, {0xD1, 0xF0, 0x5A, 0x17, 0x5A, 0x1A, 0xF0}));
  const std::vector<uint8_t> expected{0x2E, 0xFF, 0x06, 0x34, 0x03, 0xA3, 0xFA, 0x12,
                                      0x00, 0xA5, 0xFE, 0xA5, 0xFE};
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadRawUntil(session, bytes, [&](const std::vector<uint8_t>& b) {
    return b.size() >= expected.size();
  }));
  EXPECT_EQ(bytes, expected);
  (void)session.ClosePort();
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);

  for (const char* codes : {"1x", "123", "12:256", "12,", "0x:1", "0x123"}) {
    const RunResult bad = RunProgram(TORVANE_ECU_SIM, {"--codes", codes}, dir, "bad");
    EXPECT_EQ(bad.status, 2) << codes;
  }
  for (const char* lacks : {"100", "1g", ""}) {
    const RunResult bad = RunProgram(TORVANE_ECU_SIM, {"--lacks", lacks}, dir, "bad");
    EXPECT_EQ(bad.status, 2) << lacks;
  }
}

TEST(EcuSimulator, TestSentWithTheStreamHoldsUntilTheStopByte) {
  Bench bench(Fast());
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  // As the program sends it: the stream request with the idle air valve
  // held wide open (100 %) before its terminator.
  std::vector<uint8_t> request = StreamRequest();
  request.insert(request.end() - 1, {0x0A, 0x84, 0xC8});
  ASSERT_TRUE(bench.Send(request));
  FrameCollector collector(bench.session);
  constexpr size_t kFrames = 250;  // 5.2 s of the engine's time
  ASSERT_TRUE(collector.Collect(kFrames));
  EXPECT_TRUE(bench.simulator.TestHeld());

  // The engine cranks for at most 1.4 s and then idles for at least 4 s;
  // a second into the idle the valve has raised it far above any idle of
  // its own (at most 1300 rpm).
  const double frameSeconds = EcuSimulator::FrameSeconds(kStreamRegisterCount);
  for (size_t k = 0; k < kFrames; ++k) {
    const SampleRecord& r = collector.frames[k];
    ASSERT_EQ(r[RecordByteOf(0x17)], 0xC8) << "frame " << k;
    const double seconds = static_cast<double>(k + 1) * frameSeconds;
    if (seconds < 2.4) continue;
    ASSERT_TRUE(Idling(r)) << "frame " << k;
    EXPECT_GE(Rpm(r), 1800) << "frame " << k;
  }

  // The stop byte ends the stream and releases the valve: the stream asked
  // for again reads the ECU's own opening, and the idle comes down.
  ASSERT_EQ(bench.session.StopStream(), Result::kOk);
  ASSERT_TRUE(WaitFor([&] { return bench.simulator.TestReleases() >= 1; }));
  EXPECT_EQ(bench.simulator.TestReleases(), 1u);
  EXPECT_FALSE(bench.simulator.TestHeld());
  EXPECT_FALSE(bench.simulator.Streaming());
  ASSERT_EQ(bench.session.Purge(), Result::kOk);
  ASSERT_TRUE(bench.StartStream());
  FrameCollector again(bench.session);
  bool idleCameDown = false;
  while (!idleCameDown && again.frames.size() < 3000) {
    ASSERT_TRUE(again.Collect(again.frames.size() + 1));
    const SampleRecord& r = again.frames.back();
    ASSERT_NE(r[RecordByteOf(0x17)], 0xC8) << "frame " << again.frames.size();
    idleCameDown = Idling(r) && Rpm(r) < 1500;
  }
  EXPECT_TRUE(idleCameDown);
  EXPECT_EQ(bench.simulator.TestReleases(), 1u);
  EXPECT_EQ(bench.simulator.TestsReceived(), (std::vector<std::pair<uint8_t, uint8_t>>{{0x84, 0xC8}}));
}

TEST(EcuSimulator, TestsHoldWithOrWithoutAStreamAndEachReleaseIsCounted) {
  Bench bench(Fast());
  ASSERT_TRUE(bench.opened);
  using Tests = std::vector<std::pair<uint8_t, uint8_t>>;

  // Tests alone: each echoed as it comes, held, and no stream; a clear's
  // echo right behind shows that nothing came between. A value of 30 or F0
  // is a value like any other, and a test number the engine has nothing for
  // is taken too.
  ASSERT_TRUE(bench.Send({0x30, 0x0A, 0x93, 0x01, 0x0A, 0x94, 0x00, 0x0A, 0x80, 0x30, 0x0A, 0x42, 0xF0, 0xF0,
                          0xC1, 0xF0}));
  const std::vector<uint8_t> echo{0xF5, 0x93, 0x01, 0xF5, 0x94, 0x00, 0xF5, 0x80, 0x30, 0xF5, 0x42, 0xF0, 0x3E};
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(bench.ReadAtLeast(bytes, echo.size()));
  EXPECT_EQ(bytes, echo);
  EXPECT_TRUE(bench.simulator.TestHeld());
  EXPECT_FALSE(bench.simulator.Streaming());
  EXPECT_EQ(bench.simulator.TestReleases(), 0u);

  // Each step: a stop byte alone, then coolant (08) and the outputs bank
  // (1E) streamed with the tests; the first frames of each.
  auto framesWith = [&](const Tests& tests) {
    EXPECT_TRUE(bench.Send({0x30}));
    EXPECT_TRUE(WaitFor([&] { return !bench.simulator.Streaming(); }));
    EXPECT_EQ(bench.session.Purge(), Result::kOk);  // nobody reads the line here
    std::vector<uint8_t> request{0x30, 0x5A, 0x08, 0x5A, 0x1E};
    std::vector<uint8_t> echo{0xA5, 0x08, 0xA5, 0x1E};
    for (const auto& [number, value] : tests) {
      request.insert(request.end(), {0x0A, number, value});
      echo.insert(echo.end(), {0xF5, number, value});
    }
    request.push_back(0xF0);
    EXPECT_TRUE(bench.Send(request));
    // Frames queued before the stop byte may still be going out: the echo
    // comes after them on the line, and every frame after it is this
    // request's.
    std::vector<uint8_t> line;
    EXPECT_TRUE(bench.ReadUntil(line, [&](const std::vector<uint8_t>& b) {
      return b.size() >= echo.size() && std::search(b.begin(), b.end(), echo.begin(), echo.end()) != b.end();
    }));
    const uint64_t from = bench.simulator.SentFrameCount();
    const std::vector<SentFrame> sent = bench.SentAtLeast(from + 5);
    return std::vector<SentFrame>(sent.begin() + static_cast<long>(from),
                                  sent.begin() + static_cast<long>(from + 5));
  };
  // The fans as held; then the cold engine's coolant given as 99 and as
  // 110 deg C, and the ECU switching its fans by it; then nothing held.
  struct Step {
    Tests tests;
    int coolant;  // the byte read, or -1: the engine's own, cold
    uint8_t fans;
  };
  const Step steps[] = {{{{0x93, 0x01}, {0x94, 0x00}}, -1, 0x01},
                        {{{0x80, 0x95}}, 0x95, 0x01},
                        {{{0x80, 0xA0}}, 0xA0, 0x03}};
  Tests received{{0x93, 0x01}, {0x94, 0x00}, {0x80, 0x30}, {0x42, 0xF0}};
  for (const Step& step : steps) {
    for (const SentFrame& frame : framesWith(step.tests)) {
      ASSERT_EQ(frame.values.size(), 2u);
      if (step.coolant >= 0) {
        EXPECT_EQ(frame.values[0], step.coolant) << "frame " << frame.number;
      } else {
        EXPECT_LT(frame.values[0], 40 + 50) << "frame " << frame.number;
      }
      EXPECT_EQ(frame.values[1] & 0x03, step.fans) << "frame " << frame.number;
    }
    received.insert(received.end(), step.tests.begin(), step.tests.end());
  }
  EXPECT_EQ(bench.simulator.TestReleases(), 3u);

  // An initialisation releases too; the stop bytes that follow find
  // nothing to release. Released, the fans are the ECU's: off, cold. The
  // acknowledgement follows the frame that was on its way (no frame of
  // these two registers holds a 10).
  ASSERT_TRUE(bench.Send({0xFF, 0xFF, 0xEF}));
  bytes.clear();
  ASSERT_TRUE(bench.ReadUntil(bytes, Holds(0x10)));
  EXPECT_EQ(bench.simulator.TestReleases(), 4u);
  EXPECT_FALSE(bench.simulator.TestHeld());
  for (const SentFrame& frame : framesWith({})) {
    EXPECT_LT(frame.values[0], 40 + 50) << "frame " << frame.number;
    EXPECT_EQ(frame.values[1] & 0x03, 0) << "frame " << frame.number;
  }
  EXPECT_EQ(bench.simulator.TestReleases(), 4u);
  EXPECT_FALSE(bench.simulator.TestHeld());
  EXPECT_EQ(bench.simulator.TestsReceived(), received);
}

TEST(EcuSimulator, AnyCatalogueRegistersStreamInRequestOrder) {
  // Four, and twenty (as many as a frame carries) in an order of their
  // own: echoed as asked, then frames whose values are those of an engine
  // of the same seed moved on frame by frame.
  std::vector<uint8_t> twenty;
  for (int k = kCatalogueSize - 1; k >= kStreamRegisterCount; --k)
    twenty.push_back(kCatalogue[static_cast<size_t>(k)].number);
  twenty.push_back(0x0C);
  ASSERT_EQ(twenty.size(), static_cast<size_t>(kMaxFrameLength));
  for (const std::vector<uint8_t>& registers : {std::vector<uint8_t>{0x11, 0x0F, 0x00, 0x01}, twenty}) {
    EcuSimulatorOptions options = Fast();
    options.twinMaf = true;  // it has every register of the catalogue
    Bench bench(options);
    ASSERT_TRUE(bench.opened);
    std::vector<uint8_t> request{0x30};
    std::vector<uint8_t> echo;
    for (uint8_t nn : registers) {
      request.insert(request.end(), {0x5A, nn});
      echo.insert(echo.end(), {0xA5, nn});
    }
    request.push_back(0xF0);
    ASSERT_TRUE(bench.Send(request));
    const size_t n = registers.size();
    constexpr size_t kFrames = 30;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(bench.ReadAtLeast(bytes, echo.size() + kFrames * (n + 2)));
    ASSERT_TRUE(std::equal(echo.begin(), echo.end(), bytes.begin()));
    const std::vector<SentFrame> sent = bench.SentAtLeast(kFrames);
    EngineModel engine(options.seed);
    for (size_t k = 0; k < kFrames; ++k) {
      engine.Advance(EcuSimulator::FrameSeconds(static_cast<int>(n)));
      std::vector<uint8_t> frame{0xFF, static_cast<uint8_t>(n)};
      for (uint8_t nn : registers) frame.push_back(engine.Register(nn));
      const auto at = bytes.begin() + static_cast<long>(echo.size() + k * (n + 2));
      ASSERT_EQ(std::vector<uint8_t>(at, at + static_cast<long>(n + 2)), frame) << n << " registers, frame " << k;
      ASSERT_EQ(sent[k].values, std::vector<uint8_t>(frame.begin() + 2, frame.end()));
    }
  }
}

TEST(EcuSimulator, RightBankOnlyWithTwinMafAndSilenceAfterARefusal) {
  // Battery (0C) and MAF right (06): a single-MAF ECU refuses the right
  // bank as any register it lacks, and streams the battery alone unless it
  // goes silent on a refusal; with two meters nothing is refused.
  struct Case {
    bool twinMaf, silent;
    std::vector<uint8_t> start;
  };
  const Case cases[] = {{false, false, {0xA5, 0x0C, 0xA5, 0xFE, 0xFF, 0x01}},
                        {true, true, {0xA5, 0x0C, 0xA5, 0x06, 0xFF, 0x02}}};
  for (const Case& c : cases) {
    EcuSimulatorOptions options = Fast();
    options.twinMaf = c.twinMaf;
    options.lacksSilent = c.silent;
    Bench bench(options);
    ASSERT_TRUE(bench.opened);
    ASSERT_TRUE(bench.Send({0x30, 0x5A, 0x0C, 0x5A, 0x06, 0xF0}));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(bench.ReadAtLeast(bytes, c.start.size()));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(c.start.size())), c.start);
  }

  // Silent: no frame at all; a clear's echo right behind the request's
  // shows that nothing came between. The next request taken whole streams.
  EcuSimulatorOptions options = Fast();
  options.lacksSilent = true;
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  ASSERT_TRUE(bench.Send({0x30, 0x5A, 0x0C, 0x5A, 0x06, 0xF0, 0xC1, 0xF0}));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(bench.ReadAtLeast(bytes, 5));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xA5, 0x0C, 0xA5, 0xFE, 0x3E}));
  EXPECT_FALSE(bench.simulator.Streaming());
  EXPECT_EQ(bench.simulator.SentFrameCount(), 0u);
  ASSERT_TRUE(bench.Send({0x30, 0x5A, 0x0C, 0xF0}));
  ASSERT_TRUE(bench.ReadAtLeast(bytes, 5 + 4));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 5, bytes.begin() + 9),
            (std::vector<uint8_t>{0xA5, 0x0C, 0xFF, 0x01}));
}

TEST(EcuSimulator, AnEcuAnswersOneKindOfInitialisationAndIgnoresTheOther) {
  // FF FF ED, then FF FF EF, each followed by a clear whose echo shows
  // what came before it.
  for (const bool late : {false, true}) {
    EcuSimulatorOptions options = Fast();
    options.initEd = late;
    Bench bench(options);
    ASSERT_TRUE(bench.opened);
    ASSERT_TRUE(bench.Send({0xFF, 0xFF, 0xED, 0xC1, 0xF0, 0xFF, 0xFF, 0xEF, 0xC1, 0xF0}));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(bench.ReadAtLeast(bytes, 3));
    const std::vector<uint8_t> expected =
        late ? std::vector<uint8_t>{0x12, 0x3E, 0x3E} : std::vector<uint8_t>{0x3E, 0x10, 0x3E};
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(bench.simulator.InitAnswers(), 1u);
  }
}

TEST(EcuSimulator, LongNumberReplyOf32BytesInEitherLayout) {
  for (const std::string number : {"8JU17", "ABCDE"}) {
    EcuSimulatorOptions options = Fast();
    options.longNumber = true;
    options.ecuNumber = number;
    Bench bench(options);
    ASSERT_TRUE(bench.opened);
    ASSERT_TRUE(bench.Send({0xD0, 0xF0}));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(bench.ReadAtLeast(bytes, 3 + 32));
    ASSERT_EQ(bytes.size(), 3u + 32) << number;
    EXPECT_EQ(bytes[2], 32) << number;
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0x55), number[2] == 'U' ? 1 : 0) << number;
    // The program's own parser finds the number.
    ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
    char read[6] = {};
    ASSERT_EQ(bench.session.ReadEcuNumber(read), Result::kOk) << number;
    EXPECT_EQ(std::string(read), number);
  }
}

TEST(EcuSimulator, ExecutableTakesTheOptionsOfLateEcus) {
  TempDir dir;
  Process sim(TORVANE_ECU_SIM,
              {"--baud", "115200", "--init-ed", "--long-number", "--twin-maf", "--lacks-silent", "--lacks",
               "17"},
              dir, "sim");
  ASSERT_TRUE(WaitFor([&] { return !SplitLines(sim.Out()).empty(); })) << sim.Err();
  SerialPort port;
  port.SetDevicePath(1, SplitLines(sim.Out())[0]);
  ConsultSession session(port);
  ASSERT_EQ(session.OpenPort(1), Result::kOk);
  // EF ignored, ED answered; the long number; 06 taken, 17 refused, and
  // then silence until the clear's echo.
  ASSERT_TRUE(SendRaw(session, {0xFF, 0xFF, 0xEF, 0xFF, 0xFF, 0xED, 0xD0, 0xF0, 0x5A, 0x06, 0x5A, 0x17, 0xF0,
                                0xC1, 0xF0}));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadRawUntil(session, bytes, Holds(0x3E)));
  ASSERT_EQ(bytes.size(), 1u + 1 + 2 + 32 + 5);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0x12, 0x2F, 0xFF, 32}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 5, bytes.end()),
            (std::vector<uint8_t>{0xA5, 0x06, 0xA5, 0xFE, 0x3E}));
  (void)session.ClosePort();
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

TEST(EcuSimulator, PowerDipEndsStreamAndTestAndLeavesTheEcuDeafUntilInitialised) {
  Bench bench(Fast());
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  std::vector<uint8_t> request = StreamRequest();
  request.insert(request.end() - 1, {0x0A, 0x84, 0xC8});
  ASSERT_TRUE(bench.Send(request));
  FrameCollector collector(bench.session);
  ASSERT_TRUE(collector.Collect(5));
  ASSERT_TRUE(bench.simulator.TestHeld());

  bench.simulator.PowerDip(0.3);
  EXPECT_FALSE(bench.simulator.Powered());
  ASSERT_TRUE(WaitFor([&] { return bench.simulator.PowerDips() == 1; }));
  const uint64_t framesAtDip = bench.simulator.SentFrameCount();
  EXPECT_FALSE(bench.simulator.Streaming());
  EXPECT_FALSE(bench.simulator.TestHeld());
  EXPECT_EQ(bench.simulator.TestReleases(), 1u);
  // What the dead ECU is sent is lost; what was on the line before it is
  // read away until it wakes.
  ASSERT_TRUE(bench.Send({0xD0, 0xF0}));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(bench.ReadUntil(bytes, [&](const std::vector<uint8_t>&) { return bench.simulator.Powered(); }));
  EXPECT_TRUE(bench.simulator.Deaf());
  EXPECT_EQ(bench.simulator.SentFrameCount(), framesAtDip);

  // Woken: a stream request, a stop byte and a number read get no echo and
  // no answer; only the initialisation is answered.
  request = StreamRequest();
  request.insert(request.end(), {0x30, 0xD0, 0xF0, 0xFF, 0xFF, 0xEF});
  ASSERT_TRUE(bench.Send(request));
  bytes.clear();
  ASSERT_TRUE(bench.ReadUntil(bytes, Holds(0x10)));
  EXPECT_EQ(bytes, std::vector<uint8_t>{0x10});
  EXPECT_FALSE(bench.simulator.Deaf());
  EXPECT_EQ(bench.simulator.InitAnswers(), 2u);
  EXPECT_EQ(bench.simulator.EcuNumberAnswers(), 0u);
  EXPECT_EQ(bench.simulator.SentFrameCount(), framesAtDip);

  // From then on it is itself again, the test still released.
  ASSERT_TRUE(bench.StartStream());
  FrameCollector again(bench.session);
  ASSERT_TRUE(again.Collect(3));
  EXPECT_TRUE(bench.simulator.Streaming());
  EXPECT_FALSE(bench.simulator.TestHeld());
  EXPECT_EQ(bench.simulator.TestReleases(), 1u);
}

TEST(EcuSimulator, UnpluggedAdapterHangsUpAndComesBackUnderTheLinkStillStreaming) {
  TempDir dir;
  EcuSimulatorOptions options = Fast();
  options.linkPath = dir.Path("ttyECU");
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  const int client = open(options.linkPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(client, 0);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  ASSERT_TRUE(bench.StartStream());
  FrameCollector collector(bench.session);
  ASSERT_TRUE(collector.Collect(5));

  bench.simulator.Unplug(0.4);
  EXPECT_FALSE(bench.simulator.Plugged());
  ASSERT_TRUE(WaitFor([&] { return HungUp(client); }));
  close(client);
  // Unless the adapter is back already, the link went with it.
  const bool linkGone = !Exists(options.linkPath);
  EXPECT_TRUE(linkGone || bench.simulator.Replugs() > 0);
  const uint64_t framesBefore = bench.simulator.SentFrameCount();

  ASSERT_TRUE(WaitFor([&] { return bench.simulator.Plugged(); }));
  EXPECT_EQ(bench.simulator.Replugs(), 1u);
  char target[256] = {};
  ASSERT_GT(readlink(options.linkPath.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), bench.simulator.SlavePath());
  EXPECT_TRUE(bench.simulator.Streaming());
  EXPECT_TRUE(bench.simulator.Powered());

  // The ECU never knew: a fresh open of the link gets its stream, without
  // a request, and the frames of the unplugged time went nowhere.
  SerialPort port;
  port.SetDevicePath(1, options.linkPath);
  ConsultSession session(port);
  ASSERT_EQ(session.OpenPort(1), Result::kOk);
  FrameCollector again(session);
  ASSERT_TRUE(again.Collect(3));
  ASSERT_TRUE(WaitFor([&] {
    const std::vector<SampleRecord> sent = Records(bench.simulator.SentFrames());
    return std::find(sent.begin() + static_cast<long>(framesBefore), sent.end(), again.frames.back()) !=
           sent.end();
  }));
  const std::vector<SentFrame> sent = bench.simulator.SentFrames();
  ASSERT_GT(sent.size(), framesBefore);
  EXPECT_GT(sent[framesBefore].number, sent[framesBefore - 1].number + 1);
  (void)session.ClosePort();
}

TEST(EcuSimulator, FaultsOfTheOptionsComeAfterTheFirstStreamRequest) {
  EcuSimulatorOptions options = Fast();
  options.powerDipAt = 0.1;
  options.powerDipFor = 0.2;
  options.unplugAt = 0.1;
  options.unplugFor = 0.2;
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  char number[6] = {};
  ASSERT_EQ(bench.session.ReadEcuNumber(number), Result::kOk);
  EXPECT_EQ(bench.simulator.PowerDips(), 0u);
  EXPECT_EQ(bench.simulator.Replugs(), 0u);
  ASSERT_TRUE(bench.StartStream());
  ASSERT_TRUE(WaitFor([&] {
    return bench.simulator.PowerDips() == 1 && bench.simulator.Replugs() == 1 && bench.simulator.Powered() &&
           bench.simulator.Plugged();
  }));
  EXPECT_TRUE(bench.simulator.Deaf());
  EXPECT_FALSE(bench.simulator.Streaming());
}

TEST(EcuSimulator, ExecutableTakesFaultsAndUnplugsOnSigusr2) {
  TempDir dir;
  const std::string link = dir.Path("ttyECU");
  for (const char* option : {"--power-dip", "--unplug"})
    for (const char* bad : {"5", "5,", ",3", "5,3,1", "x,3", "-1,3", "5,0", "5,-2", "inf,3", "5,nan"}) {
      const RunResult run = RunProgram(TORVANE_ECU_SIM, {option, bad}, dir, "bad");
      EXPECT_EQ(run.status, 2) << option << " " << bad;
    }
  for (const char* option : {"--dip-seconds", "--unplug-seconds"})
    for (const char* bad : {"0", "-1", "x"}) {
      const RunResult run = RunProgram(TORVANE_ECU_SIM, {option, bad}, dir, "bad");
      EXPECT_EQ(run.status, 2) << option << " " << bad;
    }

  Process sim(TORVANE_ECU_SIM,
              {"--baud", "115200", "--link", link, "--power-dip", "5,3", "--unplug", "0,2.5", "--dip-seconds",
               "0.3", "--unplug-seconds", "0.3"},
              dir, "sim");
  ASSERT_TRUE(WaitFor([&] { return !SplitLines(sim.Out()).empty(); })) << sim.Err();
  const int client = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(client, 0);
  // A dip by hand leaves the simulator running; SIGUSR2 takes the device
  // and the link away and brings them back.
  sim.Signal(SIGUSR1);
  sim.Signal(SIGUSR2);
  ASSERT_TRUE(WaitFor([&] { return HungUp(client); }));
  close(client);
  // The new device's path follows the first on standard output.
  ASSERT_TRUE(WaitFor([&] { return SplitLines(sim.Out()).size() == 2; }));
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), SplitLines(sim.Out())[1]);
  SerialPort port;
  port.SetDevicePath(1, link);
  ConsultSession session(port);
  ASSERT_EQ(session.OpenPort(1), Result::kOk);
  ASSERT_TRUE(WaitFor([&] { return session.InitializeEcu() == Result::kOk; }));
  (void)session.ClosePort();
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(Exists(link));
}
