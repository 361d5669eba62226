#include "SampleRecord.h"

#include <cstring>

namespace {

void Range(int32_t& max, int32_t& min, int32_t hi, int32_t lo) {
  max = hi;
  min = lo;
}

int32_t Word(int high, int low) { return high * 256 + low; }

}  // namespace

int32_t RpmFromRaw(int high, int low, int32_t& max, int32_t& min) {
  Range(max, min, 10000, 0);
  return Word(high, low) * 125 / 10;
}
int32_t MafVoltageFromRaw(int high, int low, int32_t& max, int32_t& min) {
  Range(max, min, 5000, 0);
  return Word(high, low) * 5;
}
int32_t CoolantTempFromRaw(int raw, int32_t& max, int32_t& min) {
  Range(max, min, 120, -50);
  return raw - 50;
}
int32_t O2VoltageFromRaw(int raw, int32_t& max, int32_t& min) {
  Range(max, min, 1000, 0);
  return raw * 10;
}
int32_t SpeedFromRaw(int raw, int32_t& max, int32_t& min) {
  Range(max, min, 200, 0);
  return raw * 2;
}
int32_t BatteryVoltageFromRaw(int raw, int32_t& max, int32_t& min) {
  Range(max, min, 20400, 0);
  return raw * 80;
}
int32_t ThrottleVoltageFromRaw(int raw, int32_t& max, int32_t& min) {
  Range(max, min, 5000, 0);
  return raw * 20;
}
int32_t ExhaustTempVoltageFromRaw(int raw, int32_t& max, int32_t& min) {
  Range(max, min, 5100, 0);
  return raw * 20;
}
int32_t InjectionTimeFromRaw(int high, int low, int32_t& max, int32_t& min) {
  Range(max, min, 20000, 0);
  return Word(high, low) * 10;
}
int32_t IgnitionTimingFromRaw(int raw, int32_t& max, int32_t& min) {
  Range(max, min, 110, -145);
  return 110 - raw;
}
int32_t AacValveFromRaw(int raw, int32_t& max, int32_t& min) {
  Range(max, min, 127, 0);
  return raw / 2;
}
int32_t AfAlphaFromRaw(int raw, int32_t& max, int32_t& min) {
  Range(max, min, 255, 0);
  return raw;
}

namespace {

// One-byte conversions behind the table's uniform two-byte entry point.
template <int32_t (*F)(int, int32_t&, int32_t&)>
int32_t OneByte(int high, int /*low*/, int32_t& max, int32_t& min) {
  return F(high, max, min);
}

}  // namespace

const std::array<ValueColumn, kValueCount> kValueColumns = {{
    {"rpm", 1, 2, RpmFromRaw, "rpm", 0, 10000, "CAS Position [rpm]", "RPM [rpm]"},
    {"maf", 3, 4, MafVoltageFromRaw, "mV", 0, 5000, "MAF Voltage [mV]", "MAF Voltage [mV]"},
    {"coolant", 5, 0, OneByte<CoolantTempFromRaw>, "deg C", -50, 120, "Coolant Temp [deg C]",
     "Coolant Temp [deg C]"},
    {"o2", 6, 0, OneByte<O2VoltageFromRaw>, "mV", 0, 1000, "O2 Sensor [mV]",
     "O2 Sensor Voltage [mV]"},
    {"speed", 7, 0, OneByte<SpeedFromRaw>, "km/h", 0, 200, "Speed [km/h]", "Speed [km/h]"},
    {"battery", 8, 0, OneByte<BatteryVoltageFromRaw>, "mV", 0, 20400, "Battery [mV]",
     "Battery Voltage [mV]"},
    {"throttle", 9, 0, OneByte<ThrottleVoltageFromRaw>, "mV", 0, 5000, "Throttle [mV]",
     "Throttle Position [mV]"},
    {"exhaust", 10, 0, OneByte<ExhaustTempVoltageFromRaw>, "mV", 0, 5100,
     "Ex Gus Temp Sensor [mV]", "Exhaust Gas Temp [mV]"},
    {"injection", 12, 13, InjectionTimeFromRaw, "us", 0, 20000, "Injection Time [us]",
     "Injection Time [us]"},
    {"ignition", 14, 0, OneByte<IgnitionTimingFromRaw>, "deg BTDC", -145, 110,
     "Ignition Timing [deg BTDC]", "Ignition Timing [deg BTDC]"},
    {"aac", 15, 0, OneByte<AacValveFromRaw>, "%", 0, 127, "AAC Valve [%]", "AAC Valve [%]"},
    {"afalpha", 16, 0, OneByte<AfAlphaFromRaw>, "%", 0, 255, "A/F [%]", "A/F ALPHA [%]"},
}};

const std::array<BitBank, kBankCount> kBitBanks = {{
    {11, 0x13, "Bit Bank1(0x13)", "DigBit1"},
    {17, 0x1E, "Bit Bank2(0x1E)", "DigBit2"},
    {18, 0x1F, "Bit Bank3(0x1F)", "DigBit3"},
}};

// Order is the CSV column order and the indicator order; bank 3 is not in
// bit-weight order on purpose.
const std::array<BitColumn, kBitCount> kBitColumns = {{
    {0, 0x10, "A/C Switch", "B11", "A/C Switch"},
    {0, 0x08, "Power Steering", "B12", "Power Steering"},
    {0, 0x04, "Park/Neutral", "B13", "Park/Neutral"},
    {0, 0x02, "Cranking Signal", "B14", "Cranking Signal"},
    {0, 0x01, "CLSD/THLPOS", "B15", "CLSD/THL POS"},
    {1, 0x80, "Aircon Relay", "B21", "Aircon Relay"},
    {1, 0x40, "Fuel Pump Relay", "B22", "Fuel Pump Relay"},
    {1, 0x20, "VTC SOL", "B23", "VTC SOL"},
    {1, 0x02, "Coolant FAN High", "B24", "Coolant FAN High"},
    {1, 0x01, "Coolang FAN Low", "B25", "Coolant FAN Low"},
    {2, 0x40, "P/Reg Cont Valve", "B31", "P/Reg Cont Valve"},
    {2, 0x20, "Wastegate SOL", "B32", "Wastegate SOL"},
    {2, 0x80, "IACV-FICD SOL", "B33", "IACV-FICD SOL"},
    {2, 0x01, "EGR SOL", "B34", "EGR SOL"},
}};

int32_t ConvertValue(const ValueColumn& column, const SampleRecord& record, int32_t& max,
                     int32_t& min) {
  const int low = column.lowByte != 0 ? record[column.lowByte] : 0;
  return column.convert(record[column.highByte], low, max, min);
}

int32_t ConvertValue(const ValueColumn& column, const SampleRecord& record) {
  int32_t max = 0;
  int32_t min = 0;
  return ConvertValue(column, record, max, min);
}

// ---- SampleCell ------------------------------------------------------------
// Classic sequence lock: an odd sequence means a write is in progress. The
// payload lives in atomics so that the optimistic read is not a data race.
// Payload stores are release and payload loads acquire: a reader that sees
// any byte of a new write therefore also sees the odd sequence that began
// it, and its re-check of the sequence cannot move ahead of the payload.
// (No stand-alone fences: ThreadSanitizer cannot follow those.)

SampleRecord SampleCell::Load() const {
  SampleRecord out;
  uint32_t words[kWords];
  for (;;) {
    const uint32_t before = sequence_.load(std::memory_order_acquire);
    if (before & 1u) continue;  // a writer is halfway through
    for (int i = 0; i < kWords; ++i) words[i] = words_[i].load(std::memory_order_acquire);
    if (sequence_.load(std::memory_order_relaxed) == before) break;
  }
  std::memcpy(out.bytes.data(), words, sizeof words);
  return out;
}

void SampleCell::StoreBytes(int first, const uint8_t* bytes, int count) {
  // Take the write side: move the sequence from even to odd. Writers are
  // rare (one frame every 20 ms), so spinning here is never long.
  uint32_t seq = sequence_.load(std::memory_order_relaxed);
  for (;;) {
    if ((seq & 1u) == 0 &&
        sequence_.compare_exchange_weak(seq, seq + 1, std::memory_order_acquire,
                                        std::memory_order_relaxed))
      break;
    seq = sequence_.load(std::memory_order_relaxed);
  }

  uint32_t words[kWords];
  for (int i = 0; i < kWords; ++i) words[i] = words_[i].load(std::memory_order_relaxed);
  std::memcpy(reinterpret_cast<uint8_t*>(words) + first, bytes, static_cast<size_t>(count));
  for (int i = 0; i < kWords; ++i) words_[i].store(words[i], std::memory_order_release);

  sequence_.store(seq + 2, std::memory_order_release);
}

void SampleCell::Store(const SampleRecord& record) {
  StoreBytes(0, record.bytes.data(), kSampleRecordSize);
}

// ---- DecodeStream ----------------------------------------------------------
// A frame is FF, the length byte 0x12 (18) and eighteen register bytes. A
// register that reads 255 sends FF as data, so an FF inside a frame is
// ordinary: once FF 12 has started a frame, its eighteen bytes are taken
// whatever they are.
//
// What gives a slipped frame away is where the next frame start landed.
// When a byte is lost on the line, the FF 12 of the following frame slides
// into the data, or its FF becomes the last data byte. Such a frame is held
// until the next two bytes show whether a frame starts where it should:
// FF 12 confirms and delivers it; anything else drops it, and decoding goes
// back to its first suspicious FF, so the frame that slid into it is still
// found. Hence:
// - every delivered sample is the 18 bytes that follow some FF 12 of the
//   input;
// - a byte lost or added on the line costs the frame it hit and at most the
//   next one;
// - an ordinary frame (no FF 12 inside, last byte not FF) is delivered at
//   its last byte, without waiting for the next one.
// A replay is at most the 18 held bytes plus the two seen after them, while
// a frame needs 20 bytes from its FF: a replayed frame can complete only at
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

// Index in the work area (1..18) of the first FF that may be the start of a
// frame that slid in, or 0 when the frame looks aligned.
int32_t FirstSuspiciousStart(const uint8_t* work) {
  for (int i = 1; i < kFrameLength; ++i)
    if (work[i] == kFrameStart && work[i + 1] == kFrameLength) return i;
  return work[kFrameLength] == kFrameStart ? kFrameLength : 0;
}

void StartFrame(StreamDecoderState& d) {
  d.work[0] = kFrameLength;
  d.storedCount = 1;
  d.huntState = kHuntData;
}

void Deliver(RecorderState& recorder) {
  recorder.current.StoreBytes(0, recorder.decoder.work, kFrameLength + 1);
  const uint64_t frames = recorder.framesDecoded.fetch_add(1, std::memory_order_release) + 1;
  recorder.frameArrived.store(static_cast<int32_t>(frames & 0x7FFFFFFF));
}

// Decodes one byte. False when it shows a held frame to have slipped: the
// state is then left as it was, for SlippedFrameReplay.
bool DecodeByte(RecorderState& recorder, uint8_t b) {
  StreamDecoderState& d = recorder.decoder;
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
      if (b == kFrameLength) {
        StartFrame(d);
      } else if (b != kFrameStart) {
        d.huntState = kHuntStart;
      }
      return true;
    case kHuntData:
      d.work[d.storedCount] = b;
      d.storedCount += 1;
      if (d.storedCount <= kFrameLength) return true;
      d.resumeAt = FirstSuspiciousStart(d.work);
      if (d.resumeAt == 0) {
        Deliver(recorder);
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
      if (b != kFrameLength) return false;
      Deliver(recorder);
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
int SlippedFrameReplay(StreamDecoderState& d, uint8_t b, uint8_t (&replay)[kFrameLength + 2]) {
  int n = 0;
  for (int i = d.resumeAt; i <= kFrameLength; ++i) replay[n++] = d.work[i];
  if (d.huntState == kHeldSawStart) replay[n++] = kFrameStart;
  replay[n++] = b;
  d.huntState = kHuntStart;
  return n;
}

}  // namespace

void RecorderState::DecodeStream(const uint8_t* bytes, int count) {
  for (int k = 0; k < count; ++k) {
    if (DecodeByte(*this, bytes[k])) continue;
    uint8_t replay[kFrameLength + 2];
    const int n = SlippedFrameReplay(decoder, bytes[k], replay);
    DecodeStream(replay, n);  // never slips itself (see above): one level deep
  }
}
