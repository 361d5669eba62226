#include "data/FaultCodes.h"


namespace {
// Two decimal digits each, in rising order: a code is found once.
constexpr bool TableIsSound() {
  int previous = 0;
  for (const FaultCodeMeaning& m : kFaultCodeMeanings) {
    if (m.code <= previous || m.code < 10 || m.code > 99) return false;
    previous = m.code;
  }
  return true;
}
static_assert(TableIsSound(), "fault codes are two decimal digits, each listed once, in order");
}  // namespace

int FaultCodeNumber(uint8_t raw) {
  const int high = raw >> 4;
  const int low = raw & 0x0F;
  if (high > 9 || low > 9) return -1;
  return high * 10 + low;
}

std::string FaultCodeText(uint8_t raw) {
  const int code = FaultCodeNumber(raw);
  if (code < 0) return "--";
  return std::string(1, static_cast<char>('0' + code / 10)) + static_cast<char>('0' + code % 10);
}

std::string FaultCodeRawText(uint8_t raw) {
  constexpr char kHex[] = "0123456789ABCDEF";
  return std::string("0x") + kHex[raw >> 4] + kHex[raw & 0x0F];
}

const char* FaultCodeMeaningOf(uint8_t raw) {
  const int code = FaultCodeNumber(raw);
  for (const FaultCodeMeaning& m : kFaultCodeMeanings)
    if (m.code == code) return m.meaning;
  return kUnknownFaultCode;
}

bool DecodeFaultCodes(const uint8_t* data, size_t count, std::vector<FaultCode>& codes) {
  codes.clear();
  for (size_t i = 0; i + 1 < count; i += 2) codes.push_back(FaultCode{data[i], data[i + 1]});
  return !codes.empty() && count % 2 == 0;
}

bool NoMalfunction(const std::vector<FaultCode>& codes) {
  return codes.size() == 1 && codes.front() == FaultCode{kNoMalfunctionCode, 0};
}

std::string FaultCodesCsv(const std::vector<FaultCode>& codes) {
  std::string csv = "code,raw,starts,meaning\n";
  for (const FaultCode& c : codes) {
    // The table's meanings hold no comma or quote: none needs quoting.
    csv += FaultCodeText(c.raw) + "," + FaultCodeRawText(c.raw) + "," + std::to_string(c.starts) + "," +
           FaultCodeMeaningOf(c.raw) + "\n";
  }
  return csv;
}

std::string EcuPartNumber(const std::string& number) { return "23710-" + number; }
