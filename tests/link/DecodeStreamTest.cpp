#include <gtest/gtest.h>

#include <algorithm>

#include "data/RecorderState.h"
#include "link/FrameDecoder.h"
#include "tests/link/LinkTestSupport.h"

namespace {

constexpr uint8_t kSpare = 0x5C;

Bytes Frame(uint8_t first) {
  Bytes f = {0xFF, 0x12};
  for (int i = 0; i < kFrameLength; ++i) f.push_back(static_cast<uint8_t>(first + i));
  return f;
}

// Frame(first) with some registers reading other values (255 above all).
Bytes Frame(uint8_t first, std::initializer_list<std::pair<int, uint8_t>> registers) {
  Bytes f = Frame(first);
  for (auto [index, value] : registers) f[static_cast<size_t>(index) + 2] = value;
  return f;
}

SampleRecord SampleOf(const Bytes& frame) {
  SampleRecord r;
  for (int i = 0; i <= kFrameLength; ++i) r[i] = frame[static_cast<size_t>(i) + 1];
  r[19] = kSpare;
  return r;
}

// Whether the sample is the 18 bytes that follow some FF 12 of the input.
bool FollowsAFrameStartOf(const SampleRecord& sample, const Bytes& input) {
  for (size_t at = 0; at + 2 + kFrameLength <= input.size(); ++at) {
    if (input[at] != 0xFF || input[at + 1] != 0x12) continue;
    bool same = true;
    for (int i = 0; i <= kFrameLength; ++i) same = same && sample[i] == input[at + 1 + i];
    if (same) return true;
  }
  return false;
}

class DecodeStream : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleRecord start;
    start[19] = kSpare;
    recorder.current.Store(start);
    untouched = start;
  }
  void Feed(const Bytes& bytes) {
    ::DecodeStream(decoder, recorder, bytes.data(), static_cast<int>(bytes.size()));
  }
  SampleRecord Sample() const { return recorder.current.Load(); }
  // Feeds one byte per call and returns every sample delivered meanwhile.
  std::vector<SampleRecord> Delivered(const Bytes& bytes) {
    std::vector<SampleRecord> out;
    for (uint8_t b : bytes) {
      const uint64_t before = recorder.framesDecoded.load();
      ::DecodeStream(decoder, recorder, &b, 1);
      EXPECT_LE(recorder.framesDecoded.load(), before + 1);
      if (recorder.framesDecoded.load() != before) out.push_back(Sample());
    }
    return out;
  }

  StreamDecoderState decoder;
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
  EXPECT_EQ(recorder.framesDecoded.load(), 1u);
}

TEST_F(DecodeStream, RegistersReading255Arrive) {
  struct Case {
    const char* what;
    Bytes frame;
    bool waitsForTheNextStart;  // looks like a slipped frame until confirmed
  };
  Bytes all255 = {0xFF, 0x12};
  all255.resize(2 + kFrameLength, 0xFF);
  const Case cases[] = {
      {"first and middle registers", Frame(0x01, {{0, 0xFF}, {7, 0xFF}, {8, 0xFF}}), false},
      {"last register", Frame(0x01, {{17, 0xFF}}), true},
      {"a register pair FF 12", Frame(0x01, {{4, 0xFF}, {5, 0x12}}), true},
      {"first pair FF 12", Frame(0x01, {{0, 0xFF}, {1, 0x12}}), true},
      {"every register", all255, true},
  };
  const Bytes next = Frame(0x40);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint64_t before = recorder.framesDecoded.load();
    Feed(c.frame);
    EXPECT_EQ(recorder.framesDecoded.load(), before + (c.waitsForTheNextStart ? 0 : 1));
    std::vector<SampleRecord> expected{SampleOf(next)};
    if (c.waitsForTheNextStart) expected.insert(expected.begin(), SampleOf(c.frame));
    EXPECT_EQ(Delivered(next), expected);
    if (!c.waitsForTheNextStart) continue;

    // Held, but no frame start follows: the held frame is dropped, and the
    // frame after it still arrives.
    Feed(c.frame);
    const std::vector<SampleRecord> got = Delivered(Concat({{0x01, 0x02}, next}));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), SampleOf(next));
    EXPECT_EQ(std::count(got.begin(), got.end(), SampleOf(c.frame)), 0);
  }
}

TEST_F(DecodeStream, ALostByteCostsOnlyItsOwnFrame) {
  const Bytes hit = Frame(0x01, {{3, 0xFF}});
  // The last register stuck at 255 (a bank with every bit set) must not
  // keep the decoder from finding the stream again.
  const Bytes a = Frame(0x20, {{0, 0xFF}, {17, 0xFF}});
  const Bytes b = Frame(0x40, {{17, 0xFF}});
  const Bytes c = Frame(0x60, {{17, 0xFF}});
  // Any byte of a frame lost, or the frame cut short anywhere.
  std::vector<Bytes> damaged;
  for (size_t lost = 0; lost < hit.size(); ++lost) {
    Bytes d = hit;
    d.erase(d.begin() + static_cast<std::ptrdiff_t>(lost));
    damaged.push_back(d);
  }
  for (size_t keep = 1; keep < hit.size(); ++keep)
    damaged.emplace_back(hit.begin(), hit.begin() + static_cast<std::ptrdiff_t>(keep));
  const std::vector<SampleRecord> expected{SampleOf(a), SampleOf(b)};  // c waits for a start
  for (const Bytes& d : damaged) {
    SCOPED_TRACE(::testing::PrintToString(d));
    EXPECT_EQ(Delivered(Concat({d, a, b, c})), expected);
    Delivered(Frame(0x01));  // confirms c and ends in step
  }
}

TEST_F(DecodeStream, AnAddedByteCostsAtMostTheNextFrameToo) {
  const Bytes hit = Frame(0x01);
  const Bytes a = Frame(0x20, {{17, 0xFF}});
  const Bytes b = Frame(0x40);
  const Bytes c = Frame(0x60);
  for (uint8_t extra : {uint8_t{0x00}, uint8_t{0x12}, uint8_t{0xFF}}) {
    for (size_t at = 0; at <= hit.size(); ++at) {
      SCOPED_TRACE(::testing::Message() << "extra " << int{extra} << " at " << at);
      Bytes d = hit;
      d.insert(d.begin() + static_cast<std::ptrdiff_t>(at), extra);
      const Bytes input = Concat({d, a, b, c});
      const std::vector<SampleRecord> got = Delivered(input);
      ASSERT_GE(got.size(), 2u);
      ASSERT_LE(got.size(), 4u);
      EXPECT_EQ(got[got.size() - 2], SampleOf(b));
      EXPECT_EQ(got.back(), SampleOf(c));
      for (const SampleRecord& s : got) EXPECT_TRUE(FollowsAFrameStartOf(s, input));
    }
  }
}

TEST_F(DecodeStream, OnlyFfFollowedByTheLengthEighteenStartsAFrame) {
  Bytes wrongLength = Frame(0x01);
  wrongLength[1] = 0x13;
  Bytes zeroLength = Frame(0x01);
  zeroLength[1] = 0x00;
  const Bytes plain = Frame(0x01);
  const Bytes noStart(plain.begin() + 1, plain.end());  // 12 and data, no FF
  const Bytes garbage = {0x00, 0x12, 0x30, 0x5A, 0x10, 0xFF, 0x05};
  EXPECT_TRUE(Delivered(Concat({garbage, wrongLength, zeroLength, noStart})).empty());
  EXPECT_EQ(Sample(), untouched);
  // FF FF 12: the second FF starts the frame.
  EXPECT_EQ(Delivered(Concat({{0xFF, 0xFF}, Frame(0x70)})), std::vector{SampleOf(Frame(0x70))});
}

TEST_F(DecodeStream, SplitAnywhereDecodesTheSameAndStateCarriesOver) {
  // Ordinary, held and confirmed, held and dropped, and a stream stopped
  // mid-frame then started again.
  const Bytes stopped = Frame(0x40);
  const Bytes stream = Concat({{0x33, 0xFF, 0x05}, Frame(0x01), Frame(0x10, {{17, 0xFF}}),
                               Frame(0x20, {{2, 0xFF}, {3, 0x12}}), Frame(0x30, {{17, 0xFF}}),
                               {0x07}, Bytes(stopped.begin(), stopped.begin() + 9),
                               Frame(0x50), Frame(0x60, {{0, 0xFF}})});
  StreamDecoderState wholeDecoder;
  RecorderState whole;
  ::DecodeStream(wholeDecoder, whole, stream.data(), static_cast<int>(stream.size()));
  ASSERT_EQ(whole.framesDecoded.load(), 5u);
  ASSERT_EQ(whole.current.Load()[1], 0xFF);

  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    StreamDecoderState splitDecoder;
    RecorderState split;
    ::DecodeStream(splitDecoder, split, stream.data(), static_cast<int>(cut));
    ::DecodeStream(splitDecoder, split, stream.data() + cut,
                   static_cast<int>(stream.size() - cut));
    ::DecodeStream(splitDecoder, split, nullptr, 0);  // an empty read changes nothing
    EXPECT_EQ(split.framesDecoded.load(), whole.framesDecoded.load());
    EXPECT_EQ(split.current.Load(), whole.current.Load());
  }
  const std::vector<SampleRecord> one = Delivered(stream);
  EXPECT_EQ(one.size(), 5u);
  for (const SampleRecord& s : one) EXPECT_TRUE(FollowsAFrameStartOf(s, stream));
}

}  // namespace

namespace {

// A stream of other registers: frames of their own length, each value in
// its register's place, the record marked with what it holds.
TEST(DecodeStreamOtherRegisters, AFrameOfTheChosenRegistersFillsTheirPlacesOnly) {
  StreamDecoderState decoder;
  RecorderState recorder;
  ASSERT_TRUE(MakeRegisterList(MaskOf(0x00) | MaskOf(0x01) | MaskOf(0x11) | MaskOf(0x0F), decoder.layout));
  // Catalogue order is request order: 00 01 0F 11. A frame of the
  // eighteen's length is no frame of this stream; the FF inside is data.
  const Bytes input = {0xFF, 0x12, 1, 2, 3, 4, 0xFF, 0x04, 0x03, 0x20, 0xFF, 0x5A};
  ::DecodeStream(decoder, recorder, input.data(), static_cast<int>(input.size()));
  ASSERT_EQ(recorder.framesDecoded.load(), 1u);
  const SampleRecord sample = recorder.current.Load();
  EXPECT_EQ(sample[0], 4);
  EXPECT_EQ(sample[RecordByteOf(0x00)], 0x03);
  EXPECT_EQ(sample[RecordByteOf(0x01)], 0x20);
  EXPECT_EQ(sample[RecordByteOf(0x0F)], 0xFF);
  EXPECT_EQ(sample[RecordByteOf(0x11)], 0x5A);
  EXPECT_EQ(PresentRegisters(sample), decoder.layout.Mask());
  EXPECT_TRUE(HasValue(kValueColumns[0], sample));   // engine speed
  EXPECT_FALSE(HasValue(kValueColumns[1], sample));  // the MAF was not asked for
}

// The largest frame, 20 data bytes, with FF as its last value.
TEST(DecodeStreamOtherRegisters, AFullFrameOfTwentyIsTaken) {
  StreamDecoderState decoder;
  RecorderState recorder;
  ASSERT_TRUE(MakeRegisterList(kEighteenMask | MaskOf(0x11) | MaskOf(0x0F), decoder.layout));
  Bytes input = {0xFF, 20};
  for (int i = 0; i < 19; ++i) input.push_back(static_cast<uint8_t>(i + 1));
  input.push_back(0xFF);
  const Bytes next = {0xFF, 20};
  input.insert(input.end(), next.begin(), next.end());
  ::DecodeStream(decoder, recorder, input.data(), static_cast<int>(input.size()));
  ASSERT_EQ(recorder.framesDecoded.load(), 1u);
  const SampleRecord sample = recorder.current.Load();
  EXPECT_EQ(sample[RecordByteOf(0x1F)], 18);
  EXPECT_EQ(sample[RecordByteOf(0x0F)], 19);
  EXPECT_EQ(sample[RecordByteOf(0x11)], 0xFF);
}

}  // namespace
