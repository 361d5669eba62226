// The stream frame decoder lives with the recorder state in data/, but it
// is the receiving end of the link, so its cases are kept here.
#include <gtest/gtest.h>

#include "data/SampleRecord.h"
#include "tests/link/LinkTestSupport.h"

namespace {

constexpr uint8_t kSpare = 0x5C;

Bytes Frame(uint8_t first) {
  Bytes f = {0xFF, 0x12};
  for (int i = 0; i < kFrameLength; ++i) f.push_back(static_cast<uint8_t>(first + i));
  return f;
}

SampleRecord SampleOf(const Bytes& frame) {
  SampleRecord r;
  for (int i = 0; i <= kFrameLength; ++i) r[i] = frame[static_cast<size_t>(i) + 1];
  r[19] = kSpare;
  return r;
}

class DecodeStream : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleRecord start;
    start[19] = kSpare;
    recorder.current.Store(start);
    untouched = start;
  }
  void Feed(const Bytes& bytes) { recorder.DecodeStream(bytes.data(), static_cast<int>(bytes.size())); }
  SampleRecord Sample() const { return recorder.current.Load(); }

  RecorderState recorder;
  SampleRecord untouched;
};

TEST_F(DecodeStream, ACompleteFrameFillsBytesZeroToEighteen) {
  Feed(Frame(0x01));
  SampleRecord expected;
  expected[0] = 0x12;
  for (int i = 1; i <= 18; ++i) expected[i] = static_cast<uint8_t>(i);
  expected[19] = kSpare;  // never written by the decoder
  EXPECT_EQ(Sample(), expected);
}

TEST_F(DecodeStream, AFrameSplitAtAnyPointDecodesTheSame) {
  const Bytes f = Frame(0x21);
  for (size_t cut = 0; cut <= f.size(); ++cut) {
    SCOPED_TRACE(cut);
    recorder.current.Store(untouched);
    Feed(Bytes(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(cut)));
    Feed(Bytes(f.begin() + static_cast<std::ptrdiff_t>(cut), f.end()));
    EXPECT_EQ(Sample(), SampleOf(f));
  }
  recorder.current.Store(untouched);
  for (uint8_t b : Frame(0x41)) recorder.DecodeStream(&b, 1);  // one byte per call
  EXPECT_EQ(Sample(), SampleOf(Frame(0x41)));
  recorder.DecodeStream(nullptr, 0);  // an empty read changes nothing
  EXPECT_EQ(Sample(), SampleOf(Frame(0x41)));
}

TEST_F(DecodeStream, AnFfInsideAFrameLosesItAndTheFrameItStarts) {
  const Bytes partial = {0xFF, 0x12, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Feed(Concat({partial, Frame(0x30)}));
  EXPECT_EQ(Sample(), untouched);  // both lost
  Feed(Frame(0x50));
  EXPECT_EQ(Sample(), SampleOf(Frame(0x50)));
}

TEST_F(DecodeStream, AnFfRegisterValueMeansNoFrameIsAccepted) {
  Bytes f = Frame(0x01);
  f[9] = 0xFF;
  Feed(f);
  Feed(f);
  EXPECT_EQ(Sample(), untouched);
}

TEST_F(DecodeStream, OnlyFfFollowedByTheLengthEighteenStartsAFrame) {
  Bytes wrongLength = Frame(0x01);
  wrongLength[1] = 0x13;
  Feed(wrongLength);
  Bytes zeroLength = Frame(0x01);
  zeroLength[1] = 0x00;
  Feed(zeroLength);
  // FF FF 12: the second FF is taken as a (wrong) length byte, not a start.
  Feed(Concat({{0xFF}, Frame(0x01)}));
  EXPECT_EQ(Sample(), untouched);

  // After a complete frame, 12 and data without an FF start nothing.
  Feed(Frame(0x60));
  const Bytes noStart = Frame(0x01);
  Feed(Bytes(noStart.begin() + 1, noStart.end()));
  EXPECT_EQ(Sample(), SampleOf(Frame(0x60)));
}

TEST_F(DecodeStream, LeadingBytesAreIgnoredAndTheLastFrameWins) {
  Feed(Concat({{0x00, 0x12, 0x30, 0x5A, 0x10}, Frame(0x01), Frame(0x70)}));
  EXPECT_EQ(Sample(), SampleOf(Frame(0x70)));
}

TEST_F(DecodeStream, StateSurvivesBetweenCallsLikeAStoppedStream) {
  // A stream stopped mid-frame: the first FF after the restart abandons the
  // old frame and is consumed, so the first new frame is lost.
  const Bytes f = Frame(0x01);
  Feed(Bytes(f.begin(), f.begin() + 8));
  Feed(Concat({Frame(0x20), Frame(0x40)}));
  EXPECT_EQ(Sample(), SampleOf(Frame(0x40)));
  EXPECT_EQ(recorder.decoder.huntState, 0);
}

}  // namespace
