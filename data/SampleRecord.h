// One stream frame as the ECU sent it, the conversions into engineering
// units, and the one recorder state that every thread of the program shares.
//
// The value and bit tables below are the single source of truth for what the
// program knows about each register: the display, the CSV writer, the
// command-line tool and the tests all read them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "data/WakeFlag.h"

// Bytes of a SampleRecord: 0 is the frame length, 1..18 the registers in
// stream-request order, 19 is spare.
constexpr int kSampleRecordSize = 20;
constexpr int kFrameLength = 18;  // data bytes per stream frame

struct SampleRecord {
  std::array<uint8_t, kSampleRecordSize> bytes{};

  uint8_t& operator[](int i) { return bytes[static_cast<size_t>(i)]; }
  uint8_t operator[](int i) const { return bytes[static_cast<size_t>(i)]; }
  bool operator==(const SampleRecord&) const = default;
};

// ---- Conversions -----------------------------------------------------------
// Each takes the raw byte(s) (0..255, high byte first) and returns the value
// in engineering units; the display range is returned through max and min.
// Pure 32-bit integer arithmetic, never clamped.
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

// ---- The value table -------------------------------------------------------
// One row per analogue value, in CSV column order.
struct ValueColumn {
  const char* key;        // short identifier for code and tests ("rpm")
  int highByte;           // record byte of the value (the high byte of a word)
  int lowByte;            // record byte of the low byte; 0 for one-byte values
  // Uniform entry point: high and low raw bytes (low ignored for one-byte values).
  int32_t (*convert)(int high, int low, int32_t& max, int32_t& min);
  const char* unit;
  int32_t rangeMin;
  int32_t rangeMax;
  const char* caption;    // main window caption
  const char* csvColumn;  // CSV header text
};

constexpr int kValueCount = 12;
extern const std::array<ValueColumn, kValueCount> kValueColumns;

// Converts one row of the table from the bytes of a record.
int32_t ConvertValue(const ValueColumn& column, const SampleRecord& record, int32_t& max,
                     int32_t& min);
int32_t ConvertValue(const ValueColumn& column, const SampleRecord& record);

// ---- The bit table ---------------------------------------------------------
struct BitBank {
  int recordByte;            // 11, 17, 18
  int registerNumber;        // 0x13, 0x1E, 0x1F
  const char* groupCaption;  // "Bit Bank1(0x13)"
  const char* hexField;      // debug edit box: "DigBit1"
};
constexpr int kBankCount = 3;
extern const std::array<BitBank, kBankCount> kBitBanks;

struct BitColumn {
  int bank;                // 0, 1, 2: index into kBitBanks
  uint8_t mask;
  const char* csvColumn;   // CSV header text ("Coolang FAN Low" as the system spells it)
  const char* indicator;   // designer name of the indicator ("B11")
  const char* caption;     // indicator caption
};
constexpr int kBitCount = 14;
extern const std::array<BitColumn, kBitCount> kBitColumns;

inline bool BitIsSet(const BitColumn& bit, const SampleRecord& record) {
  return (record[kBitBanks[static_cast<size_t>(bit.bank)].recordByte] & bit.mask) != 0;
}

// ---- The current sample ----------------------------------------------------
// Written by the stream receiver (a frame at a time) and by playback, read by
// the recording clock and the display. A sequence lock guarantees that a
// reader always gets the bytes of one whole write, never a mix of two
// frames; readers never block a writer. Concurrent writers are serialised.
class SampleCell {
 public:
  SampleRecord Load() const;
  void Store(const SampleRecord& record);
  // Writes only bytes [first, first + count), keeping the others (the decoder
  // writes bytes 0..18 and leaves the spare byte alone).
  void StoreBytes(int first, const uint8_t* bytes, int count);

 private:
  static constexpr int kWords = kSampleRecordSize / 4;
  mutable std::atomic<uint32_t> sequence_{0};
  std::atomic<uint32_t> words_[kWords]{};
};

// ---- Stream decoder state --------------------------------------------------
// Lives from one DecodeStream call to the next; never reset by Start or Stop.
struct StreamDecoderState {
  // 0 hunting FF, 1 expecting the length byte, 2 data, 3 a complete frame
  // held until the next frame start confirms it, 4 held and FF seen.
  int32_t huntState = 0;
  int32_t storedCount = 0;  // frame bytes stored so far (the length byte counts)
  int32_t resumeAt = 0;     // held frame: index in work of its first suspicious FF
  uint8_t work[kFrameLength + 1] = {};
};

// ---- RecorderState ---------------------------------------------------------
// The one recorder. Flags keep the meaning of the original 32-bit fields;
// they are atomics because the receiver, clock and interface threads share
// them.
struct RecorderState {
  std::atomic<int32_t> liveMode{0};     // 1: record the stream; 0: play back
  std::atomic<int32_t> drag{0};         // 1 while the position bar is dragged
  std::atomic<int32_t> currentIndex{0}; // next record to store or fetch
  std::string logFileName = "0";        // interface thread only
  std::atomic<int32_t> unsaved{0};
  std::atomic<uint32_t> recordCount{0};
  SampleCell current;
  // Complete frames decoded so far; lets a reader tell a new sample from a
  // repeat of the same values.
  std::atomic<uint64_t> framesDecoded{0};
  // Stored to at every complete frame: the display watches it to show a
  // new frame at once, without waiting for its next tick.
  WakeFlag frameArrived{0};

  // Feeds bytes of one read to the frame decoder; a complete FF 12 frame
  // overwrites bytes 0..18 of the current sample (register values of 255
  // included). Receiver thread only.
  void DecodeStream(const uint8_t* bytes, int count);
  StreamDecoderState decoder;
};
