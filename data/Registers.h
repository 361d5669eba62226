// The registers the program reads from the ECU, the record that holds one
// frame of them, and what each value and bit means.
//
// Where a value sits follows from one list: the stream request asks for
// kStreamRegisters in this order, a frame carries their values in this
// order, so the record byte of a register is its place in the list plus 1.
// The value and bit tables below name registers; their record bytes are
// worked out from the list when the program is built, and the display, the
// CSV writer, the command-line tool and the tests all read these tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

struct StreamRegister {
  uint8_t number;    // Consult register number
  const char* what;  // what the ECU reports in it
};

constexpr int kStreamRegisterCount = 18;
// The eighteen every recording of old held, in request order: the default
// stream, and the first eighteen registers of the catalogue below.
inline constexpr std::array<StreamRegister, kStreamRegisterCount> kStreamRegisters = {{
    {0x00, "engine speed (CAS position), high byte"},
    {0x01, "engine speed, low byte"},
    {0x04, "MAF voltage, high byte"},
    {0x05, "MAF voltage, low byte"},
    {0x08, "coolant temperature"},
    {0x09, "O2 sensor voltage"},
    {0x0B, "road speed"},
    {0x0C, "battery voltage"},
    {0x0D, "throttle position sensor voltage"},
    {0x12, "exhaust gas temperature sensor voltage"},
    {0x13, "bit bank 1 (digital inputs)"},
    {0x14, "injection time, high byte"},
    {0x15, "injection time, low byte"},
    {0x16, "ignition timing"},
    {0x17, "AAC valve"},
    {0x1A, "A/F alpha"},
    {0x1E, "bit bank 2 (digital outputs)"},
    {0x1F, "bit bank 3 (digital outputs)"},
}};

// Every register the program knows how to read: the eighteen above, then
// those some ECUs have beyond them. Which of them an ECU streams is chosen
// per ECU, within the frame budget; an ECU may also lack any of them.
struct CatalogueRegister {
  uint8_t number;
  const char* name;  // short name for lists and the command line ("AAC valve")
};

constexpr int kCatalogueSize = 37;
inline constexpr std::array<CatalogueRegister, kCatalogueSize> kCatalogue = {{
    {0x00, "engine speed high"},
    {0x01, "engine speed low"},
    {0x04, "MAF high"},
    {0x05, "MAF low"},
    {0x08, "coolant temperature"},
    {0x09, "O2 sensor"},
    {0x0B, "road speed"},
    {0x0C, "battery voltage"},
    {0x0D, "throttle position"},
    {0x12, "exhaust gas temperature"},
    {0x13, "bit bank 1"},
    {0x14, "injection time high"},
    {0x15, "injection time low"},
    {0x16, "ignition timing"},
    {0x17, "AAC valve"},
    {0x1A, "A/F alpha"},
    {0x1E, "bit bank 2"},
    {0x1F, "bit bank 3"},
    // Beyond the eighteen.
    {0x02, "CAS reference high"},
    {0x03, "CAS reference low"},
    {0x06, "MAF right high"},
    {0x07, "MAF right low"},
    {0x0A, "O2 sensor right"},
    {0x0F, "fuel temperature"},
    {0x10, "exhaust gas temperature 2"},
    {0x11, "intake air temperature"},
    {0x1B, "A/F alpha right"},
    {0x1C, "self-learn left"},
    {0x1D, "self-learn right"},
    {0x21, "bit bank 4"},
    {0x22, "injection time right high"},
    {0x23, "injection time right low"},
    {0x28, "wastegate solenoid"},
    {0x29, "boost sensor"},
    {0x33, "calculated load"},
    {0x35, "rear O2 sensor left"},
    {0x36, "rear O2 sensor right"},
}};

// A stream frame carries at most this many data bytes.
constexpr int kMaxFrameLength = 20;

// Bytes of a SampleRecord:
//   0        the frame's data byte count (18 for the eighteen)
//   1..18    the eighteen, in request order
//   19       spare, 0
//   20..38   the registers beyond the eighteen, in catalogue order
//   39       0: the record holds the eighteen and nothing else (as every
//            record of old did); 1: bytes 40..44 say what it holds
//   40..44   bit k set: catalogue register k was in the frame
//   45..47   spare, 0
// The first 20 bytes are the record as the first log file version stores it.
constexpr int kFrameLength = kStreamRegisterCount;  // data bytes of a frame of the eighteen
constexpr int kLegacyRecordSize = 1 + kFrameLength + 1;
constexpr int kExtraRecordByte = kLegacyRecordSize;  // where the registers beyond the eighteen begin
constexpr int kPresenceKindByte = kExtraRecordByte + (kCatalogueSize - kStreamRegisterCount);
constexpr int kPresenceMaskByte = kPresenceKindByte + 1;
constexpr int kSampleRecordSize = 48;
static_assert(kPresenceMaskByte + (kCatalogueSize + 7) / 8 <= kSampleRecordSize);

// Bit k: catalogue register k.
using RegisterMask = uint64_t;
constexpr RegisterMask kEighteenMask = (RegisterMask{1} << kStreamRegisterCount) - 1;

struct SampleRecord {
  std::array<uint8_t, kSampleRecordSize> bytes{};

  uint8_t& operator[](int i) { return bytes[static_cast<size_t>(i)]; }
  uint8_t operator[](int i) const { return bytes[static_cast<size_t>(i)]; }
  bool operator==(const SampleRecord&) const = default;
};

// The record byte of catalogue register k.
constexpr int RecordByteOfEntry(int k) {
  return k < kStreamRegisterCount ? k + 1 : kExtraRecordByte + (k - kStreamRegisterCount);
}

// The catalogue entry of a register number; -1 when the program does not
// know it.
constexpr int CatalogueIndexOf(int registerNumber) {
  for (int k = 0; k < kCatalogueSize; ++k)
    if (kCatalogue[static_cast<size_t>(k)].number == registerNumber) return k;
  return -1;
}

// The record byte that holds a register's value. Compile time only: naming
// a register the catalogue does not hold fails the build.
consteval int RecordByteOf(int registerNumber) {
  const int k = CatalogueIndexOf(registerNumber);
  if (k < 0) throw "not a catalogue register";
  return RecordByteOfEntry(k);
}

consteval RegisterMask MaskOf(int registerNumber) {
  const int k = CatalogueIndexOf(registerNumber);
  if (k < 0) throw "not a catalogue register";
  return RegisterMask{1} << k;
}

// What a record holds: the registers the ECU sent in its frame. A record of
// the first log version, or one made as such, holds the eighteen.
inline RegisterMask PresentRegisters(const SampleRecord& record) {
  if (record[kPresenceKindByte] == 0) return kEighteenMask;
  RegisterMask mask = 0;
  for (int i = 0; i < (kCatalogueSize + 7) / 8; ++i)
    mask |= RegisterMask{record[kPresenceMaskByte + i]} << (8 * i);
  return mask;
}
inline void SetPresentRegisters(SampleRecord& record, RegisterMask mask) {
  record[kPresenceKindByte] = 1;
  for (int i = 0; i < (kCatalogueSize + 7) / 8; ++i)
    record[kPresenceMaskByte + i] = static_cast<uint8_t>(mask >> (8 * i));
}
// A record the ECU sent nothing for (a lost line, the time before the
// first frame): no value at all.
inline SampleRecord GapRecord() {
  SampleRecord record;
  SetPresentRegisters(record, 0);
  return record;
}
inline bool IsGap(const SampleRecord& record) { return PresentRegisters(record) == 0; }
// The registers an export may show values of: a record of the first kind
// holds those its frame length covers, so one of length 0 was never written
// (the time before the first frame, in recordings of old) and holds none.
inline RegisterMask SentRegisters(const SampleRecord& record) {
  if (record[kPresenceKindByte] != 0) return PresentRegisters(record);
  const int length = record[0] < kStreamRegisterCount ? record[0] : kStreamRegisterCount;
  return (RegisterMask{1} << length) - 1;
}
inline bool HoldsFrame(const SampleRecord& record) { return SentRegisters(record) != 0; }

// ---- Conversions -----------------------------------------------------------
// Each takes the raw byte(s) (0..255, high byte first) and returns the value
// in engineering units; the display range (its row of the value table) is
// returned through max and min. Pure 32-bit integer arithmetic, never
// clamped.
int32_t RpmFromRaw(int high, int low, int32_t& max, int32_t& min);
int32_t MafVoltageFromRaw(int high, int low, int32_t& max, int32_t& min);
int32_t CoolantTempFromRaw(int raw, int32_t& max, int32_t& min);
int32_t O2VoltageFromRaw(int raw, int32_t& max, int32_t& min);
int32_t SpeedFromRaw(int raw, int32_t& max, int32_t& min);
int32_t BatteryVoltageFromRaw(int raw, int32_t& max, int32_t& min);
int32_t ThrottleVoltageFromRaw(int raw, int32_t& max, int32_t& min);
int32_t ExhaustTempVoltageFromRaw(int raw, int32_t& max, int32_t& min);
int32_t InjectionTimeFromRaw(int high, int low, int32_t& max, int32_t& min);
int32_t IgnitionTimingFromRaw(int raw, int32_t& max, int32_t& min);
int32_t AacValveFromRaw(int raw, int32_t& max, int32_t& min);
int32_t AfAlphaFromRaw(int raw, int32_t& max, int32_t& min);

// A one-byte conversion behind the value table's uniform two-byte entry point.
template <int32_t (*F)(int, int32_t&, int32_t&)>
int32_t OneByte(int high, int /*low*/, int32_t& max, int32_t& min) {
  return F(high, max, min);
}

// ---- The value table -------------------------------------------------------
// One row per analogue value, in CSV column order.
struct ValueColumn {
  const char* key;        // short identifier for code and tests ("rpm")
  int highByte;           // record byte of the value (the high byte of a word)
  int lowByte;            // record byte of the low byte; 0 for one-byte values
  // Uniform entry point: high and low raw bytes (low ignored for one-byte values).
  int32_t (*convert)(int high, int low, int32_t& max, int32_t& min);
  const char* unit;
  int32_t rangeMin;       // the display range: the bar's ends
  int32_t rangeMax;
  const char* caption;    // main window caption
  const char* csvColumn;  // CSV header text
};

constexpr int kNoLowByte = 0;  // lowByte of a one-byte value

constexpr int kValueCount = 12;
inline constexpr std::array<ValueColumn, kValueCount> kValueColumns = {{
    {"rpm", RecordByteOf(0x00), RecordByteOf(0x01), RpmFromRaw, "rpm", 0, 10000,
     "CAS Position [rpm]", "RPM [rpm]"},
    {"maf", RecordByteOf(0x04), RecordByteOf(0x05), MafVoltageFromRaw, "mV", 0, 5000,
     "MAF Voltage [mV]", "MAF Voltage [mV]"},
    {"coolant", RecordByteOf(0x08), kNoLowByte, OneByte<CoolantTempFromRaw>, "deg C", -50, 120,
     "Coolant Temp [deg C]", "Coolant Temp [deg C]"},
    {"o2", RecordByteOf(0x09), kNoLowByte, OneByte<O2VoltageFromRaw>, "mV", 0, 1000,
     "O2 Sensor [mV]", "O2 Sensor Voltage [mV]"},
    {"speed", RecordByteOf(0x0B), kNoLowByte, OneByte<SpeedFromRaw>, "km/h", 0, 200,
     "Speed [km/h]", "Speed [km/h]"},
    {"battery", RecordByteOf(0x0C), kNoLowByte, OneByte<BatteryVoltageFromRaw>, "mV", 0, 20400,
     "Battery [mV]", "Battery Voltage [mV]"},
    {"throttle", RecordByteOf(0x0D), kNoLowByte, OneByte<ThrottleVoltageFromRaw>, "mV", 0,
     5000, "Throttle [mV]", "Throttle Position [mV]"},
    {"exhaust", RecordByteOf(0x12), kNoLowByte, OneByte<ExhaustTempVoltageFromRaw>, "mV", 0,
     5100, "Ex Gus Temp Sensor [mV]", "Exhaust Gas Temp [mV]"},
    {"injection", RecordByteOf(0x14), RecordByteOf(0x15), InjectionTimeFromRaw, "us", 0, 20000,
     "Injection Time [us]", "Injection Time [us]"},
    {"ignition", RecordByteOf(0x16), kNoLowByte, OneByte<IgnitionTimingFromRaw>, "deg BTDC",
     -145, 110, "Ignition Timing [deg BTDC]", "Ignition Timing [deg BTDC]"},
    {"aac", RecordByteOf(0x17), kNoLowByte, OneByte<AacValveFromRaw>, "%", 0, 127,
     "AAC Valve [%]", "AAC Valve [%]"},
    {"afalpha", RecordByteOf(0x1A), kNoLowByte, OneByte<AfAlphaFromRaw>, "%", 0, 255,
     "A/F [%]", "A/F ALPHA [%]"},
}};

// Scalings of the registers beyond the eighteen, as the public protocol
// notes give them. Where they give none, the raw byte is shown as it came
// (unit "raw"): a made-up scaling would be a wrong value.
// The range is part of each, as each conversion reports its own.
template <int kTimes, int kPlus, int kMin, int kMax>
constexpr int32_t ByteScaled(int high, int /*low*/, int32_t& max, int32_t& min) {
  max = kMax;
  min = kMin;
  return high * kTimes + kPlus;
}
template <int kTimes, int kMin, int kMax>
constexpr int32_t WordScaled(int high, int low, int32_t& max, int32_t& min) {
  max = kMax;
  min = kMin;
  return (high * 256 + low) * kTimes;
}

// The values of the registers beyond the eighteen. They are offered where
// a recording holds them; the main window's fixed layout and the columns
// of a recording of the eighteen stay as they are.
constexpr int kExtraValueCount = 15;
inline constexpr std::array<ValueColumn, kExtraValueCount> kExtraValueColumns = {{
    {"casref", RecordByteOf(0x02), RecordByteOf(0x03), WordScaled<8, 0, 10000>, "rpm", 0, 10000,
     "CAS Reference [rpm]", "CAS Reference [rpm]"},
    {"mafr", RecordByteOf(0x06), RecordByteOf(0x07), WordScaled<5, 0, 5000>, "mV", 0, 5000,
     "MAF Voltage R [mV]", "MAF Voltage R [mV]"},
    {"o2r", RecordByteOf(0x0A), kNoLowByte, ByteScaled<10, 0, 0, 1000>, "mV", 0, 1000,
     "O2 Sensor R [mV]", "O2 Sensor Voltage R [mV]"},
    {"fueltemp", RecordByteOf(0x0F), kNoLowByte, ByteScaled<1, -50, -50, 120>, "deg C", -50, 120,
     "Fuel Temp [deg C]", "Fuel Temp [deg C]"},
    {"exhaust2", RecordByteOf(0x10), kNoLowByte, ByteScaled<1, 0, 0, 255>, "raw", 0, 255,
     "Ex Gas Temp 2 [raw]", "Exhaust Gas Temp 2 [raw]"},
    {"intaketemp", RecordByteOf(0x11), kNoLowByte, ByteScaled<1, -50, -50, 120>, "deg C", -50, 120,
     "Intake Air Temp [deg C]", "Intake Air Temp [deg C]"},
    {"afalphar", RecordByteOf(0x1B), kNoLowByte, ByteScaled<1, 0, 0, 255>, "%", 0, 255,
     "A/F R [%]", "A/F ALPHA R [%]"},
    {"selflearnl", RecordByteOf(0x1C), kNoLowByte, ByteScaled<1, 0, 0, 255>, "%", 0, 255,
     "Self-Learn L [%]", "A/F Self-Learn L [%]"},
    {"selflearnr", RecordByteOf(0x1D), kNoLowByte, ByteScaled<1, 0, 0, 255>, "%", 0, 255,
     "Self-Learn R [%]", "A/F Self-Learn R [%]"},
    {"injectionr", RecordByteOf(0x22), RecordByteOf(0x23), WordScaled<10, 0, 20000>, "us", 0, 20000,
     "Injection Time R [us]", "Injection Time R [us]"},
    {"wastegate", RecordByteOf(0x28), kNoLowByte, ByteScaled<1, 0, 0, 255>, "%", 0, 255,
     "Wastegate SOL [%]", "Wastegate Solenoid [%]"},
    {"boost", RecordByteOf(0x29), kNoLowByte, ByteScaled<1, 0, 0, 255>, "raw", 0, 255,
     "Boost Sensor [raw]", "Boost Sensor [raw]"},
    {"load", RecordByteOf(0x33), kNoLowByte, ByteScaled<1, 0, 0, 255>, "%", 0, 255,
     "Calculated Load [%]", "Calculated Load [%]"},
    {"rearo2l", RecordByteOf(0x35), kNoLowByte, ByteScaled<1, 0, 0, 255>, "raw", 0, 255,
     "Rear O2 L [raw]", "Rear O2 Sensor L [raw]"},
    {"rearo2r", RecordByteOf(0x36), kNoLowByte, ByteScaled<1, 0, 0, 255>, "raw", 0, 255,
     "Rear O2 R [raw]", "Rear O2 Sensor R [raw]"},
}};

// The eighteen's values, then those beyond: what the Tool windows, the
// value settings and the exports of a wider recording offer.
constexpr int kAllValueCount = kValueCount + kExtraValueCount;
inline constexpr std::array<ValueColumn, kAllValueCount> kAllValueColumns = [] {
  std::array<ValueColumn, kAllValueCount> all{};
  for (int i = 0; i < kValueCount; ++i) all[static_cast<size_t>(i)] = kValueColumns[static_cast<size_t>(i)];
  for (int i = 0; i < kExtraValueCount; ++i)
    all[static_cast<size_t>(kValueCount + i)] = kExtraValueColumns[static_cast<size_t>(i)];
  return all;
}();

// A value's row by its key (its index in kAllValueColumns, which for the
// eighteen's values is also its index in kValueColumns). Compile time only:
// a key the table does not hold fails the build, so no lookup falls back
// to another value.
consteval int ValueIndexOf(std::string_view key) {
  for (int i = 0; i < kAllValueCount; ++i)
    if (std::string_view(kAllValueColumns[static_cast<size_t>(i)].key) == key) return i;
  throw "not a key of the value table";
}
consteval const ValueColumn& ValueRowOf(std::string_view key) {
  return kAllValueColumns[static_cast<size_t>(ValueIndexOf(key))];
}

// The registers a value is made of.
constexpr RegisterMask RegistersOf(const ValueColumn& column) {
  RegisterMask mask = 0;
  for (int k = 0; k < kCatalogueSize; ++k) {
    const int byte = RecordByteOfEntry(k);
    if (byte == column.highByte || (column.lowByte != kNoLowByte && byte == column.lowByte))
      mask |= RegisterMask{1} << k;
  }
  return mask;
}
// The ECU sent every byte of the value in this record.
inline bool HasValue(const ValueColumn& column, const SampleRecord& record) {
  const RegisterMask needed = RegistersOf(column);
  return (PresentRegisters(record) & needed) == needed;
}

// Converts one row of the table from the bytes of a record.
int32_t ConvertValue(const ValueColumn& column, const SampleRecord& record, int32_t& max,
                     int32_t& min);
int32_t ConvertValue(const ValueColumn& column, const SampleRecord& record);
// The same value as exactly as its register gives it, for an export that
// carries fractions (.msl): engine speed moves in steps of 12.5 rpm and the
// AAC valve in steps of 0.5 %, which ConvertValue cuts to whole numbers (the
// display and the CSV keep those). ExactDecimals: the decimals the row's
// step needs, 0 for a whole-number row.
double ExactValue(const ValueColumn& column, const SampleRecord& record);
int ExactDecimals(const ValueColumn& column);

// ---- The bit table ---------------------------------------------------------
struct BitBank {
  int recordByte;            // worked out from registerNumber
  int registerNumber;        // 0x13, 0x1E, 0x1F
  const char* groupCaption;  // "Bit Bank1(0x13)"
  const char* hexField;      // debug edit box: "DigBit1"
};

consteval BitBank Bank(int registerNumber, const char* groupCaption, const char* hexField) {
  return {RecordByteOf(registerNumber), registerNumber, groupCaption, hexField};
}

constexpr int kBankCount = 3;
inline constexpr std::array<BitBank, kBankCount> kBitBanks = {{
    Bank(0x13, "Bit Bank1(0x13)", "DigBit1"),
    Bank(0x1E, "Bit Bank2(0x1E)", "DigBit2"),
    Bank(0x1F, "Bit Bank3(0x1F)", "DigBit3"),
}};
// With the bank some ECUs have beyond the eighteen.
constexpr int kAllBankCount = 4;
inline constexpr std::array<BitBank, kAllBankCount> kAllBitBanks = {{
    kBitBanks[0],
    kBitBanks[1],
    kBitBanks[2],
    Bank(0x21, "Bit Bank4(0x21)", "DigBit4"),
}};

struct BitColumn {
  int bank;                // 0 to 3: index into kAllBitBanks
  uint8_t mask;
  const char* csvColumn;   // CSV header text ("Coolang FAN Low" as the system spells it)
  const char* indicator;   // designer name of the indicator ("B11")
  const char* caption;     // indicator caption
};

// Order is the CSV column order and the indicator order; bank 3 is not in
// bit-weight order on purpose.
constexpr int kBitCount = 14;
inline constexpr std::array<BitColumn, kBitCount> kBitColumns = {{
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

// The bits of the bank beyond the eighteen.
constexpr int kExtraBitCount = 2;
inline constexpr std::array<BitColumn, kExtraBitCount> kExtraBitColumns = {{
    {3, 0x80, "Left Bank Lean", "B41", "Left Bank Lean"},
    {3, 0x40, "Right Bank Lean", "B42", "Right Bank Lean"},
}};

inline bool BitIsSet(const BitColumn& bit, const SampleRecord& record) {
  return (record[kAllBitBanks[static_cast<size_t>(bit.bank)].recordByte] & bit.mask) != 0;
}
// The ECU sent the bit's bank in this record.
inline bool HasBit(const BitColumn& bit, const SampleRecord& record) {
  const int k = CatalogueIndexOf(kAllBitBanks[static_cast<size_t>(bit.bank)].registerNumber);
  return (PresentRegisters(record) >> k & 1) != 0;
}
