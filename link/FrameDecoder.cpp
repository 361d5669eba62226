#include "link/FrameDecoder.h"

// A frame is FF, the length byte L (0x12 for the eighteen) and L register
// bytes. A register that reads 255 sends FF as data, so an FF inside a
// frame is ordinary: once FF L has started a frame, its L bytes are taken
// whatever they are.
//
// What gives a slipped frame away is where the next frame start landed.
// When a byte is lost on the line, the FF 12 of the following frame slides
// into the data, or its FF becomes the last data byte. Such a frame is held
// until the next two bytes show whether a frame starts where it should:
// FF 12 confirms and delivers it; anything else drops it, and decoding goes
// back to its first suspicious FF, so the frame that slid into it is still
// found. Hence:
// - every delivered sample is the L bytes that follow some FF L of the
//   input;
// - a byte lost or added on the line costs the frame it hit and at most the
//   next one;
// - an ordinary frame (no FF 12 inside, last byte not FF) is delivered at
//   its last byte, without waiting for the next one.
// A replay is at most the L held bytes plus the two seen after them, while
// a frame needs L + 2 bytes from its FF: a replayed frame can complete only at
// the last replayed byte, so a replay never needs a replay of its own.

namespace {

constexpr uint8_t kFrameStart = 0xFF;

enum : int32_t {
  kHuntStart = 0,
  kHuntLength = 1,
  kHuntData = 2,
  kHeld = 3,
  kHeldSawStart = 4,
};

int32_t Length(const StreamDecoderState& d) { return d.layout.count; }

// Index in the work area (1..L) of the first FF that may be the start of a
// frame that slid in, or 0 when the frame looks aligned.
int32_t FirstSuspiciousStart(const StreamDecoderState& d) {
  const int32_t length = Length(d);
  for (int i = 1; i < length; ++i)
    if (d.work[i] == kFrameStart && d.work[i + 1] == length) return i;
  return d.work[length] == kFrameStart ? length : 0;
}

void StartFrame(StreamDecoderState& d) {
  d.work[0] = static_cast<uint8_t>(Length(d));
  d.storedCount = 1;
  d.huntState = kHuntData;
}

void Deliver(const StreamDecoderState& d, RecorderState& recorder) {
  SampleRecord record;
  // The spare byte is never the decoder's: it keeps what it held.
  record[kLegacyRecordSize - 1] = recorder.current.Load()[kLegacyRecordSize - 1];
  record[0] = d.work[0];
  for (int i = 0; i < d.layout.count; ++i)
    record[RecordByteOfEntry(d.layout.entries[static_cast<size_t>(i)])] = d.work[i + 1];
  // A frame of the eighteen is the record it has always been.
  if (!d.layout.IsEighteen()) SetPresentRegisters(record, d.layout.Mask());
  recorder.current.Store(record);
  const uint64_t frames = recorder.framesDecoded.fetch_add(1, std::memory_order_release) + 1;
  recorder.sampleChanged.store(static_cast<int32_t>(frames & 0x7FFFFFFF));
}

// Decodes one byte. False when it shows a held frame to have slipped: the
// state is then left as it was, for SlippedFrameReplay.
bool DecodeByte(StreamDecoderState& d, RecorderState& recorder, uint8_t b) {
  switch (d.huntState) {
    case kHuntStart:
      if (b == kFrameStart) d.huntState = kHuntLength;
      d.storedCount = 0;
      return true;
    case kHuntLength:
      // A second FF may itself be the start: while the decoder looks for the
      // stream again after a fault, the FF it has just seen can be the last
      // register of a frame (a bank with every bit set) right before the
      // next frame's FF 12. Taken as a wrong length, it would hide that
      // start, and with the bank stuck at 255 every start after it.
      if (b == Length(d)) {
        StartFrame(d);
      } else if (b != kFrameStart) {
        d.huntState = kHuntStart;
      }
      return true;
    case kHuntData:
      d.work[d.storedCount] = b;
      d.storedCount += 1;
      if (d.storedCount <= Length(d)) return true;
      d.resumeAt = FirstSuspiciousStart(d);
      if (d.resumeAt == 0) {
        Deliver(d, recorder);
        d.huntState = kHuntStart;
      } else {
        d.huntState = kHeld;
      }
      return true;
    case kHeld:
      if (b != kFrameStart) return false;
      d.huntState = kHeldSawStart;
      return true;
    case kHeldSawStart:
      if (b != Length(d)) return false;
      Deliver(d, recorder);
      StartFrame(d);
      return true;
    default:
      d.huntState = kHuntStart;
      return true;
  }
}

// Drops the held frame that byte b showed to have slipped and gives the
// bytes to decode again: the held ones from its first suspicious FF on, then
// those seen after it. Returns their count.
int SlippedFrameReplay(StreamDecoderState& d, uint8_t b, uint8_t (&replay)[kMaxFrameLength + 2]) {
  int n = 0;
  for (int i = d.resumeAt; i <= Length(d); ++i) replay[n++] = d.work[i];
  if (d.huntState == kHeldSawStart) replay[n++] = kFrameStart;
  replay[n++] = b;
  d.huntState = kHuntStart;
  return n;
}

}  // namespace

void DecodeStream(StreamDecoderState& decoder, RecorderState& recorder, const uint8_t* bytes,
                  int count) {
  for (int k = 0; k < count; ++k) {
    if (DecodeByte(decoder, recorder, bytes[k])) continue;
    uint8_t replay[kMaxFrameLength + 2];
    const int n = SlippedFrameReplay(decoder, bytes[k], replay);
    // Never slips itself (see above): one level deep.
    DecodeStream(decoder, recorder, replay, n);
  }
}
