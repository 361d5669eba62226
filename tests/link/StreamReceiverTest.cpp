#include "link/StreamReceiver.h"

#include <gtest/gtest.h>

#include "tests/link/LinkTestSupport.h"

namespace {

constexpr int32_t kPort = 3;

TEST(StreamRequest, IsTheStopByteEighteenRegisterReadsAndTheTerminator) {
  uint8_t buffer[100];
  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  int32_t length = 0;
  StreamReceiver::BuildStreamRequest(buffer, &length);
  EXPECT_EQ(length, 38);
  EXPECT_EQ(length, kStreamRequestLength);
  const Bytes expected = {0x30, 0x5A, 0x00, 0x5A, 0x01, 0x5A, 0x04, 0x5A, 0x05, 0x5A,
                          0x08, 0x5A, 0x09, 0x5A, 0x0B, 0x5A, 0x0C, 0x5A, 0x0D, 0x5A,
                          0x12, 0x5A, 0x13, 0x5A, 0x14, 0x5A, 0x15, 0x5A, 0x16, 0x5A,
                          0x17, 0x5A, 0x1A, 0x5A, 0x1E, 0x5A, 0x1F, 0xF0};
  EXPECT_EQ(Bytes(buffer, buffer + 38), expected);
  for (int i = 38; i < 100; ++i) EXPECT_EQ(buffer[i], 0xEE) << i;
}

// A stream frame FF 12 and eighteen register bytes from first on.
Bytes Frame(uint8_t first) {
  Bytes f = {0xFF, 0x12};
  for (int i = 0; i < kFrameLength; ++i) f.push_back(static_cast<uint8_t>(first + i));
  return f;
}

// The current sample a frame leaves: length byte, registers, spare byte kept.
SampleRecord SampleOf(const Bytes& frame, uint8_t spare) {
  SampleRecord r;
  for (int i = 0; i <= kFrameLength; ++i) r[i] = frame[static_cast<size_t>(i) + 1];
  r[19] = spare;
  return r;
}

class StreamReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    serial.SetDevicePath(kPort, pty.path());
    ASSERT_EQ(session.OpenPort(kPort), Result::kOk);
    SampleRecord start;
    start[19] = kSpare;
    recorder.current.Store(start);
  }
  bool SampleBecomes(const SampleRecord& expected) {
    return WaitFor([&] { return recorder.current.Load() == expected; });
  }
  // Stops the receiver and waits until its thread sleeps: from then on it
  // reads nothing until active is set again.
  void StopAndPark() {
    receiver.active = 0;
    ASSERT_TRUE(WaitFor([&] { return receiver.Parked(); }));
  }

  static constexpr uint8_t kSpare = 0x77;
  PtyPair pty;
  SerialPort serial;
  ConsultSession session{serial};
  RecorderState recorder;
  StreamReceiver receiver{session, recorder};
};

// Inactive, the receiver leaves bytes queued; once active it reads and
// decodes them; set back to 0 it stops reading at once, and the decoder
// keeps a frame cut by the stop (the rest after the next start completes it).
TEST_F(StreamReceiverTest, ReadsOnlyWhileActiveAndTheDecoderCarriesAcrossStopAndStart) {
  EXPECT_EQ(receiver.running.load(), 1);
  EXPECT_EQ(receiver.active.load(), 0);
  ASSERT_TRUE(WaitFor([&] { return receiver.Parked(); }));
  const Bytes a = Frame(0x01);
  const Bytes b = Frame(0x60);
  pty.Write(Concat({a, Bytes(b.begin(), b.begin() + 7)}));
  ASSERT_TRUE(WaitFor([&] { return session.Waiting() == 27; }));
  EXPECT_EQ(recorder.framesDecoded.load(), 0u);

  receiver.active = 1;
  ASSERT_TRUE(SampleBecomes(SampleOf(a, kSpare)));
  EXPECT_TRUE(WaitFor([&] { return session.Waiting() == 0; }));
  StopAndPark();

  pty.Write(Bytes(b.begin() + 7, b.end()));
  ASSERT_TRUE(WaitFor([&] { return session.Waiting() == 13; }));
  EXPECT_EQ(recorder.framesDecoded.load(), 1u);
  EXPECT_EQ(recorder.current.Load(), SampleOf(a, kSpare));

  receiver.active = 1;
  EXPECT_TRUE(SampleBecomes(SampleOf(b, kSpare)));
  StopAndPark();
  EXPECT_EQ(recorder.framesDecoded.load(), 2u);
}

TEST_F(StreamReceiverTest, FramesBecomeTheCurrentSampleWhatEverTheReads) {
  receiver.active = 1;
  const Bytes frame = Frame(0x01);  // sample bytes 0..18: 12, 01, 02 ... 12
  pty.Write(frame);
  EXPECT_TRUE(SampleBecomes(SampleOf(frame, kSpare)));

  // Split anywhere, with garbage between frames: the same frames come out.
  const Bytes next = Frame(0x40);
  pty.Write({0x00, 0x13, 0xFF, 0x05});  // a stray FF not followed by 12
  pty.Write(Bytes(next.begin(), next.begin() + 3));
  pty.Write(Bytes(next.begin() + 3, next.begin() + 11));
  pty.Write(Bytes(next.begin() + 11, next.end()));
  EXPECT_TRUE(SampleBecomes(SampleOf(next, kSpare)));
}

TEST_F(StreamReceiverTest, ALongBacklogIsReadInPassesAndTheLastFrameWins) {
  Bytes backlog;
  for (int k = 0; k < 80; ++k) {  // 1600 bytes: more than one pass may take
    const Bytes f = Frame(static_cast<uint8_t>(k));
    backlog.insert(backlog.end(), f.begin(), f.end());
  }
  pty.Write(backlog);
  ASSERT_TRUE(WaitFor([&] { return session.Waiting() == 1600; }));
  receiver.active = 1;
  EXPECT_TRUE(SampleBecomes(SampleOf(Frame(79), kSpare)));
  EXPECT_TRUE(WaitFor([&] { return session.Waiting() == 0; }));
}

// The frame left open by the stop takes the start of the first new frame,
// which gives it away as slipped: it is dropped and both new frames are
// decoded. Counted once everything is decoded and the receiver has parked.
TEST_F(StreamReceiverTest, AfterAStopMidFrameTheNewFramesStillArrive) {
  receiver.active = 1;
  const Bytes a = Frame(0x01);
  pty.Write(Concat({a, {0xFF, 0x12, 0x05, 0x06}}));
  ASSERT_TRUE(SampleBecomes(SampleOf(a, kSpare)));
  EXPECT_TRUE(WaitFor([&] { return session.Waiting() == 0; }));
  StopAndPark();
  receiver.active = 1;

  const Bytes first = Frame(0x20);
  const Bytes second = Frame(0x30);
  pty.Write(Concat({first, second}));
  ASSERT_TRUE(SampleBecomes(SampleOf(second, kSpare)));
  StopAndPark();
  EXPECT_EQ(recorder.framesDecoded.load(), 3u) << "a, first and second";
}

TEST_F(StreamReceiverTest, WithoutAPortTheActiveReceiverIdles) {
  ASSERT_EQ(session.ClosePort(), Result::kOk);
  receiver.active = 1;
  EXPECT_EQ(session.Waiting(), 0);
  ASSERT_EQ(session.OpenPort(kPort), Result::kOk);  // the port comes back: frames flow again
  const Bytes frame = Frame(0x09);
  pty.Write(frame);
  EXPECT_TRUE(SampleBecomes(SampleOf(frame, kSpare)));
}

// The active receiver sleeps in poll() on the silent port without a time-out;
// closing and opening the port must not wait for it.
TEST_F(StreamReceiverTest, TheWaitingReceiverDoesNotHoldOffClosingThePort) {
  receiver.active = 1;
  ASSERT_TRUE(WaitFor([&] { return !receiver.Parked(); }));
  ASSERT_EQ(session.ClosePort(), Result::kOk);
  ASSERT_EQ(session.OpenPort(kPort), Result::kOk);
  const Bytes frame = Frame(0x09);
  pty.Write(frame);
  EXPECT_TRUE(SampleBecomes(SampleOf(frame, kSpare)));
}

TEST_F(StreamReceiverTest, AVanishedDeviceKeepsTheLastSampleAndStopsCleanly) {
  receiver.active = 1;
  const Bytes frame = Frame(0x01);
  pty.Write(frame);
  ASSERT_TRUE(SampleBecomes(SampleOf(frame, kSpare)));
  pty.CloseMaster();
  EXPECT_EQ(session.Waiting(), 0);
  EXPECT_EQ(recorder.current.Load(), SampleOf(frame, kSpare));
  EXPECT_EQ(receiver.StopReceiver(), 0);
}

// StopReceiver ends the thread wherever it sleeps: in poll() on a silent
// port while active, or parked while inactive.
TEST_F(StreamReceiverTest, StopReceiverEndsTheThreadActiveOrNot) {
  receiver.active = 1;
  ASSERT_TRUE(WaitFor([&] { return !receiver.Parked(); }));
  EXPECT_EQ(receiver.StopReceiver(), 0);
  EXPECT_TRUE(WaitFor([&] { return receiver.Ended(); }));

  StreamReceiver parked(session, recorder);
  ASSERT_TRUE(WaitFor([&] { return parked.Parked(); }));
  parked.running = 0;  // running alone is enough
  EXPECT_TRUE(WaitFor([&] { return parked.Ended(); }));
}

}  // namespace
