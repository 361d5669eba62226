// The simulator in-process, seen through the program's own link layer: the
// handshake, the ECU number, the stream, and every fault as the receiver
// meets it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "tests/tools/ToolsTestSupport.h"
#include "tools/ecusim/EcuSimulator.h"

using namespace tools_test;

namespace {

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
  bool StartStream() {
    const std::vector<uint8_t> request = StreamRequest();
    return session.Send(request.data(), static_cast<int32_t>(request.size())) == Result::kOk;
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
  // The program's exact bytes arrived: 30 FF FF EF, then 30 D0 F0.
  const std::vector<uint8_t> expected{0x30, 0xFF, 0xFF, 0xEF, 0x30, 0xD0, 0xF0};
  EXPECT_EQ(bench.simulator.ReceivedBytes(), expected);
}

TEST(EcuSimulator, EcuNumberOptionAndANumberWithoutTheMark) {
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
  // Without a 'U' the program finds no number: the reply is still a frame.
  options.ecuNumber = "ABCDE";
  Bench bench(options);
  ASSERT_TRUE(bench.opened);
  ASSERT_EQ(bench.session.InitializeEcu(), Result::kOk);
  char number[6] = "-----";
  EXPECT_EQ(bench.session.ReadEcuNumber(number), Result::kFailed);
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
  // Exactly frames and nothing else on a clean line: 20 bytes each, after
  // the acknowledgement that InitializeEcu consumed.
  EXPECT_LE(collector.bytesRead, (collector.frames.size() + 1) * 20);
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
  const uint8_t request[] = {0x30, 0x5A, 0x08, 0x5A, 0x0C, 0x5A, 0x99, 0xF0};
  ASSERT_EQ(bench.session.Send(request, sizeof request), Result::kOk);
  ASSERT_TRUE(WaitFor([&] { return bench.simulator.SentFrameCount() >= 5; }));

  // Read the raw line: FF 03, coolant, battery, an unknown register (0).
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(WaitFor([&] {
    uint8_t buffer[1025];
    int32_t got = 0;
    if (bench.session.WaitInput(5) > 0) (void)bench.session.Receive(buffer, 64, &got);
    bytes.insert(bytes.end(), buffer, buffer + got);
    return bytes.size() >= 25;
  }));
  const std::vector<SentFrame> sent = bench.simulator.SentFrames();
  for (size_t k = 0; k < 5; ++k) {
    const std::vector<uint8_t> wire(bytes.begin() + static_cast<long>(5 * k),
                                    bytes.begin() + static_cast<long>(5 * k + 5));
    ASSERT_EQ(sent[k].values.size(), 3u);
    EXPECT_EQ(wire, (std::vector<uint8_t>{0xFF, 0x03, sent[k].values[0], sent[k].values[1], 0x00}));
    EXPECT_GT(sent[k].values[1], 100);  // a battery near 12 V or more
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
  EXPECT_GT(collector.bytesRead, collector.frames.size() * 20 + 20);  // strays did come
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
