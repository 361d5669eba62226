#include "analysis/ColumnSummary.h"

#include <memory>
#include <mutex>

namespace {

// A value has as many results as its raw byte or word has values: each is
// converted once, through the table's own conversion, then looked up, which
// costs less than a call per record once a recording is long.
const std::vector<int32_t>& ConversionTable(int c) {
  static std::array<std::unique_ptr<std::vector<int32_t>>, kAllValueCount> tables;
  static std::array<std::once_flag, kAllValueCount> built;
  std::call_once(built[static_cast<size_t>(c)], [c] {
    const ValueColumn& column = kAllValueColumns[static_cast<size_t>(c)];
    const bool word = column.lowByte != kNoLowByte;
    auto table = std::make_unique<std::vector<int32_t>>(word ? 65536 : 256);
    for (size_t raw = 0; raw < table->size(); ++raw) {
      SampleRecord probe;
      probe[column.highByte] = static_cast<uint8_t>(word ? raw >> 8 : raw);
      if (word) probe[column.lowByte] = static_cast<uint8_t>(raw & 0xFF);
      (*table)[raw] = ConvertValue(column, probe);
    }
    tables[static_cast<size_t>(c)] = std::move(table);
  });
  return *tables[static_cast<size_t>(c)];
}

// The fourteen bits of a record as one word, from a table per bank byte,
// and which of them the record holds (those of the banks it holds).
struct BitWords {
  std::array<std::array<uint16_t, 256>, kBankCount> tables{};
  std::array<uint16_t, kBankCount> bankBits{};
  std::array<RegisterMask, kBankCount> bankRegisters{};
  BitWords() {
    for (size_t b = 0; b < kBitColumns.size(); ++b) {
      const size_t bank = static_cast<size_t>(kBitColumns[b].bank);
      bankBits[bank] |= static_cast<uint16_t>(1u << b);
      for (int raw = 0; raw < 256; ++raw)
        if ((raw & kBitColumns[b].mask) != 0) tables[bank][static_cast<size_t>(raw)] |= static_cast<uint16_t>(1u << b);
    }
    for (size_t bank = 0; bank < kBankCount; ++bank)
      bankRegisters[bank] = RegisterMask{1} << CatalogueIndexOf(kBitBanks[bank].registerNumber);
  }
  uint16_t Of(const SampleRecord& record) const {
    uint16_t word = 0;
    for (int bank = 0; bank < kBankCount; ++bank)
      word |= tables[static_cast<size_t>(bank)][record[kBitBanks[static_cast<size_t>(bank)].recordByte]];
    return word;
  }
  uint16_t Held(RegisterMask present) const {
    uint16_t held = 0;
    for (size_t bank = 0; bank < kBankCount; ++bank)
      if ((present & bankRegisters[bank]) != 0) held |= bankBits[bank];
    return held;
  }
};

constexpr std::array<RegisterMask, kAllValueCount> kValueRegisters = [] {
  std::array<RegisterMask, kAllValueCount> masks{};
  for (size_t c = 0; c < masks.size(); ++c) masks[c] = RegistersOf(kAllValueColumns[c]);
  return masks;
}();

}  // namespace

RegisterMask ValueRegisters(int column) { return kValueRegisters[static_cast<size_t>(column)]; }

bool HoldsValue(int column, const SampleRecord& record) {
  const RegisterMask needed = kValueRegisters[static_cast<size_t>(column)];
  return (PresentRegisters(record) & needed) == needed;
}

std::optional<int32_t> HeldValue(int column, const SampleRecord& record) {
  if (!HoldsValue(column, record)) return std::nullopt;
  return ConvertedValue(column, record);
}

int32_t ConvertedValue(int c, const SampleRecord& record) {
  const ValueColumn& column = kAllValueColumns[static_cast<size_t>(c)];
  const std::vector<int32_t>& table = ConversionTable(c);
  return column.lowByte != kNoLowByte
             ? table[static_cast<size_t>(record[column.highByte] << 8 | record[column.lowByte])]
             : table[record[column.highByte]];
}

void SummariseColumns(const RecordSource& records, const ColumnLayout& layout,
                      const std::vector<int>& values, bool bits, int from, ColumnSummary& summary) {
  const size_t width = static_cast<size_t>(std::max(layout.width, 1));
  from = std::clamp(from, 0, layout.width);
  summary.values.resize(values.size());
  for (std::vector<ColumnExtremes>& column : summary.values) {
    column.resize(width);
    std::fill(column.begin() + from, column.end(), ColumnExtremes{});
  }
  if (bits) {
    summary.bits.resize(width);
    std::fill(summary.bits.begin() + from, summary.bits.end(), std::array<uint8_t, kBitCount>{});
  } else {
    summary.bits.clear();
  }
  const int64_t first = layout.Start(from);
  const int64_t end = layout.Start(layout.width);
  if (first >= end) return;

  std::vector<const std::vector<int32_t>*> tables;
  for (int c : values) tables.push_back(&ConversionTable(c));
  std::vector<RegisterMask> needed;
  for (int c : values) needed.push_back(ValueRegisters(c));
  static const BitWords bitWords;
  int px = from;
  int64_t columnEnd = layout.Start(px + 1);
  uint16_t anySet = 0;
  uint16_t anyClear = 0;
  auto closeBits = [&] {
    if (!bits) return;
    for (size_t b = 0; b < kBitColumns.size(); ++b)
      summary.bits[static_cast<size_t>(px)][b] =
          static_cast<uint8_t>(((anyClear >> b) & 1u) | (((anySet >> b) & 1u) << 1));
    anySet = anyClear = 0;
  };
  records.Visit(static_cast<uint32_t>(first), static_cast<uint32_t>(end - first),
                [&](uint32_t at, std::span<const SampleRecord> block) {
    for (size_t k = 0; k < block.size(); ++k) {
      const int64_t i = at + static_cast<int64_t>(k);
      while (i >= columnEnd && px < layout.width) {
        closeBits();
        ++px;
        columnEnd = layout.Start(px + 1);
      }
      const SampleRecord& record = block[k];
      const RegisterMask present = PresentRegisters(record);
      for (size_t t = 0; t < values.size(); ++t) {
        if ((present & needed[t]) != needed[t]) continue;
        const ValueColumn& column = kAllValueColumns[static_cast<size_t>(values[t])];
        const std::vector<int32_t>& table = *tables[t];
        const int32_t v = column.lowByte != kNoLowByte
                              ? table[static_cast<size_t>(record[column.highByte] << 8 | record[column.lowByte])]
                              : table[record[column.highByte]];
        ColumnExtremes& e = summary.values[t][static_cast<size_t>(px)];
        if (!e.any) {
          e = ColumnExtremes{v, v, v, true};
        } else {
          e.min = std::min(e.min, v);
          e.max = std::max(e.max, v);
          e.last = v;
        }
      }
      if (bits) {
        const uint16_t word = bitWords.Of(record);
        const uint16_t held = bitWords.Held(present);
        anySet |= word & held;
        anyClear |= static_cast<uint16_t>(~word & held);
      }
    }
  });
  if (px < layout.width) closeBits();
}
