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

struct StreamRegister {
  uint8_t number;    // Consult register number
  const char* what;  // what the ECU reports in it
};

constexpr int kStreamRegisterCount = 18;
// In request order.
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

// Bytes of a SampleRecord: 0 is the frame length, then one byte per stream
// register in request order, then a spare byte.
constexpr int kFrameLength = kStreamRegisterCount;  // data bytes per stream frame
constexpr int kSampleRecordSize = 1 + kFrameLength + 1;

struct SampleRecord {
  std::array<uint8_t, kSampleRecordSize> bytes{};

  uint8_t& operator[](int i) { return bytes[static_cast<size_t>(i)]; }
  uint8_t operator[](int i) const { return bytes[static_cast<size_t>(i)]; }
  bool operator==(const SampleRecord&) const = default;
};

// The record byte that holds a register's value. Compile time only: naming
// a register the stream does not carry fails the build.
consteval int RecordByteOf(int registerNumber) {
  for (int i = 0; i < kStreamRegisterCount; ++i) {
    if (kStreamRegisters[static_cast<size_t>(i)].number == registerNumber) return i + 1;
  }
  throw "not a stream register";
}

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

// Converts one row of the table from the bytes of a record.
int32_t ConvertValue(const ValueColumn& column, const SampleRecord& record, int32_t& max,
                     int32_t& min);
int32_t ConvertValue(const ValueColumn& column, const SampleRecord& record);

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

struct BitColumn {
  int bank;                // 0, 1, 2: index into kBitBanks
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

inline bool BitIsSet(const BitColumn& bit, const SampleRecord& record) {
  return (record[kBitBanks[static_cast<size_t>(bit.bank)].recordByte] & bit.mask) != 0;
}
