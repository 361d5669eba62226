#include "data/Registers.h"

#include <string_view>

namespace {

// The row of the value table with this key, found when the program is built
// (a key not in the table fails the build): each conversion reports its
// row's display range, which therefore stands only there.
consteval const ValueColumn& Row(std::string_view key) {
  for (const ValueColumn& column : kValueColumns)
    if (key == column.key) return column;
  throw "no such value";
}

// What the tables must hold for the records of every log file ever saved to
// keep their meaning; the build stops when an edit breaks one.
constexpr bool EachRegisterOnce() {
  for (int i = 0; i < kStreamRegisterCount; ++i)
    for (int j = i + 1; j < kStreamRegisterCount; ++j)
      if (kStreamRegisters[static_cast<size_t>(i)].number ==
          kStreamRegisters[static_cast<size_t>(j)].number)
        return false;
  return true;
}

// Every register byte of a record is read by exactly one value or bank.
constexpr bool EachRecordByteReadOnce() {
  int readers[kSampleRecordSize] = {};
  for (const ValueColumn& column : kAllValueColumns) {
    if (column.highByte < 1 || column.highByte >= kPresenceKindByte) return false;
    readers[column.highByte] += 1;
    if (column.lowByte == kNoLowByte) continue;
    if (column.lowByte != column.highByte + 1) return false;  // a word is high byte first
    readers[column.lowByte] += 1;
  }
  for (const BitBank& bank : kAllBitBanks) readers[bank.recordByte] += 1;
  for (int k = 0; k < kCatalogueSize; ++k)
    if (readers[RecordByteOfEntry(k)] != 1) return false;
  return true;
}

// The catalogue begins with the eighteen, in request order, and names each
// register once.
constexpr bool CatalogueBeginsWithTheEighteen() {
  for (int i = 0; i < kStreamRegisterCount; ++i)
    if (kCatalogue[static_cast<size_t>(i)].number != kStreamRegisters[static_cast<size_t>(i)].number)
      return false;
  for (int i = 0; i < kCatalogueSize; ++i)
    for (int j = i + 1; j < kCatalogueSize; ++j)
      if (kCatalogue[static_cast<size_t>(i)].number == kCatalogue[static_cast<size_t>(j)].number) return false;
  return true;
}

constexpr bool RangesAreRanges() {
  for (const ValueColumn& column : kAllValueColumns)
    if (column.rangeMin >= column.rangeMax) return false;
  return true;
}

// A conversion beyond the eighteen reports the range its row shows.
constexpr bool ExtraRangesMatchTheirRows() {
  for (const ValueColumn& column : kExtraValueColumns) {
    int32_t max = 0;
    int32_t min = 0;
    (void)column.convert(0, 0, max, min);
    if (max != column.rangeMax || min != column.rangeMin) return false;
  }
  return true;
}

constexpr bool BitsNameOneBitOfABank() {
  for (const BitColumn& bit : kBitColumns) {
    if (bit.bank < 0 || bit.bank >= kBankCount) return false;
    if (bit.mask == 0 || (bit.mask & (bit.mask - 1)) != 0) return false;
  }
  for (const BitColumn& bit : kExtraBitColumns) {
    if (bit.bank < kBankCount || bit.bank >= kAllBankCount) return false;
    if (bit.mask == 0 || (bit.mask & (bit.mask - 1)) != 0) return false;
  }
  return true;
}

static_assert(kLegacyRecordSize == 20, "log files of the first version store records of 20 bytes");
static_assert(CatalogueBeginsWithTheEighteen());
static_assert(ExtraRangesMatchTheirRows());
static_assert(EachRegisterOnce());
static_assert(EachRecordByteReadOnce());
static_assert(RangesAreRanges());
static_assert(BitsNameOneBitOfABank());
// The byte positions the log files and their readers elsewhere rely on.
static_assert(Row("rpm").highByte == 1 && Row("rpm").lowByte == 2);
static_assert(Row("maf").highByte == 3 && Row("maf").lowByte == 4);
static_assert(Row("injection").highByte == 12 && Row("injection").lowByte == 13);
static_assert(kBitBanks[0].registerNumber == 0x13 && kBitBanks[0].recordByte == 11);
static_assert(kBitBanks[1].registerNumber == 0x1E && kBitBanks[1].recordByte == 17);
static_assert(kBitBanks[2].registerNumber == 0x1F && kBitBanks[2].recordByte == 18);

int32_t Report(const ValueColumn& row, int32_t value, int32_t& max, int32_t& min) {
  max = row.rangeMax;
  min = row.rangeMin;
  return value;
}

int32_t Word(int high, int low) { return high * 256 + low; }

}  // namespace

int32_t RpmFromRaw(int high, int low, int32_t& max, int32_t& min) {
  return Report(Row("rpm"), Word(high, low) * 125 / 10, max, min);
}
int32_t MafVoltageFromRaw(int high, int low, int32_t& max, int32_t& min) {
  return Report(Row("maf"), Word(high, low) * 5, max, min);
}
int32_t CoolantTempFromRaw(int raw, int32_t& max, int32_t& min) {
  return Report(Row("coolant"), raw - 50, max, min);
}
int32_t O2VoltageFromRaw(int raw, int32_t& max, int32_t& min) {
  return Report(Row("o2"), raw * 10, max, min);
}
int32_t SpeedFromRaw(int raw, int32_t& max, int32_t& min) {
  return Report(Row("speed"), raw * 2, max, min);
}
int32_t BatteryVoltageFromRaw(int raw, int32_t& max, int32_t& min) {
  return Report(Row("battery"), raw * 80, max, min);
}
int32_t ThrottleVoltageFromRaw(int raw, int32_t& max, int32_t& min) {
  return Report(Row("throttle"), raw * 20, max, min);
}
int32_t ExhaustTempVoltageFromRaw(int raw, int32_t& max, int32_t& min) {
  return Report(Row("exhaust"), raw * 20, max, min);
}
int32_t InjectionTimeFromRaw(int high, int low, int32_t& max, int32_t& min) {
  return Report(Row("injection"), Word(high, low) * 10, max, min);
}
int32_t IgnitionTimingFromRaw(int raw, int32_t& max, int32_t& min) {
  return Report(Row("ignition"), 110 - raw, max, min);
}
int32_t AacValveFromRaw(int raw, int32_t& max, int32_t& min) {
  return Report(Row("aac"), raw / 2, max, min);
}
int32_t AfAlphaFromRaw(int raw, int32_t& max, int32_t& min) {
  return Report(Row("afalpha"), raw, max, min);
}

int32_t ConvertValue(const ValueColumn& column, const SampleRecord& record, int32_t& max,
                     int32_t& min) {
  const int low = column.lowByte != kNoLowByte ? record[column.lowByte] : 0;
  return column.convert(record[column.highByte], low, max, min);
}

int32_t ConvertValue(const ValueColumn& column, const SampleRecord& record) {
  int32_t max = 0;
  int32_t min = 0;
  return ConvertValue(column, record, max, min);
}

namespace {

// The rows whose registers step finer than the whole numbers of their
// conversion: each count of the raw byte (or word) is worth step. Every
// other row's conversion is already exact.
struct FineStep {
  std::string_view key;
  double step;
  int decimals;  // what the step needs to be written exactly
};
constexpr FineStep kFineSteps[] = {
    {"rpm", 12.5, 1},
    {"aac", 0.5, 1},
};

constexpr bool EachFineStepNamesARow() {
  for (const FineStep& fine : kFineSteps) {
    bool found = false;
    for (const ValueColumn& column : kValueColumns) found = found || fine.key == column.key;
    if (!found) return false;
  }
  return true;
}
static_assert(EachFineStepNamesARow());

const FineStep* FineStepOf(const ValueColumn& column) {
  for (const FineStep& fine : kFineSteps)
    if (fine.key == column.key) return &fine;
  return nullptr;
}

}  // namespace

double ExactValue(const ValueColumn& column, const SampleRecord& record) {
  const FineStep* fine = FineStepOf(column);
  if (fine == nullptr) return ConvertValue(column, record);
  const int high = record[column.highByte];
  const int raw = column.lowByte != kNoLowByte ? Word(high, record[column.lowByte]) : high;
  return raw * fine->step;
}

int ExactDecimals(const ValueColumn& column) {
  const FineStep* fine = FineStepOf(column);
  return fine != nullptr ? fine->decimals : 0;
}
