#include "control/RegisterChoice.h"

const char kRegistersSection[] = "Registers";

namespace {
// Before an ECU number is read there is no part number: one key stands for
// every ECU not yet identified.
std::string KeyOf(const std::string& partNumber) { return partNumber.empty() ? "unknown" : partNumber; }
}  // namespace

RegisterMask ReadRegisterChoice(const IniFile& ini, const std::string& partNumber) {
  const std::string text = ini.ReadString(kRegistersSection, KeyOf(partNumber), "");
  RegisterMask mask = 0;
  std::string error;
  if (text.empty() || !ParseRegisters(text, mask, error)) return kEighteenMask;
  return mask;
}

void WriteRegisterChoice(IniFile& ini, const std::string& partNumber, RegisterMask registers) {
  ini.WriteString(kRegistersSection, KeyOf(partNumber), RegisterNumbers(registers));
}
