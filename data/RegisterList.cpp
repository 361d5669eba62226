#include "data/RegisterList.h"

#include <bit>
#include <cctype>

RegisterMask RegisterList::Mask() const {
  RegisterMask mask = 0;
  for (int i = 0; i < count; ++i) mask |= RegisterMask{1} << entries[static_cast<size_t>(i)];
  return mask;
}

int RegisterCount(RegisterMask mask) { return std::popcount(mask); }

bool MakeRegisterList(RegisterMask mask, RegisterList& list) {
  list = RegisterList{};
  const RegisterMask known = (RegisterMask{1} << kCatalogueSize) - 1;
  if (mask == 0 || (mask & ~known) != 0 || RegisterCount(mask) > kMaxFrameLength) return false;
  for (int k = 0; k < kCatalogueSize; ++k)
    if ((mask >> k & 1) != 0) list.entries[static_cast<size_t>(list.count++)] = static_cast<uint8_t>(k);
  return true;
}

RegisterList EighteenRegisters() {
  RegisterList list;
  (void)MakeRegisterList(kEighteenMask, list);
  return list;
}

double FramesPerSecond(int dataBytes) { return 9600.0 / 10.0 / (dataBytes + 2); }

namespace {

std::string Hex(uint8_t n) {
  constexpr char kHex[] = "0123456789ABCDEF";
  return {kHex[n >> 4], kHex[n & 0x0F]};
}

std::string Lower(std::string_view text) {
  std::string out;
  for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// One item of a list: a number, a catalogue name or a value key.
bool ParseItem(std::string_view item, RegisterMask& mask) {
  const std::string lower = Lower(item);
  for (const ValueColumn& column : kAllValueColumns)
    if (lower == column.key) {
      mask |= RegistersOf(column);
      return true;
    }
  for (int k = 0; k < kCatalogueSize; ++k)
    if (lower == Lower(kCatalogue[static_cast<size_t>(k)].name)) {
      mask |= RegisterMask{1} << k;
      return true;
    }
  std::string_view digits = lower;
  if (digits.substr(0, 2) == "0x") digits.remove_prefix(2);
  if (digits.empty() || digits.size() > 2) return false;
  int number = 0;
  for (char c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    number = number * 16 + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'a' + 10);
  }
  const int k = CatalogueIndexOf(number);
  if (k < 0) return false;
  mask |= RegisterMask{1} << k;
  return true;
}

}  // namespace

const char* RegisterUnit(int catalogueIndex) {
  const RegisterMask bit = RegisterMask{1} << catalogueIndex;
  for (const ValueColumn& column : kAllValueColumns)
    if ((RegistersOf(column) & bit) != 0) return column.unit;
  return "bits";
}

std::string RegisterLabel(int catalogueIndex) {
  const CatalogueRegister& reg = kCatalogue[static_cast<size_t>(catalogueIndex)];
  return Hex(reg.number) + " (" + reg.name + ")";
}

std::string RegisterLabels(RegisterMask mask) {
  std::string text;
  for (int k = 0; k < kCatalogueSize; ++k)
    if ((mask >> k & 1) != 0) text += (text.empty() ? "" : ", ") + RegisterLabel(k);
  return text;
}

std::string RegisterNumbers(RegisterMask mask) {
  std::string text;
  for (int k = 0; k < kCatalogueSize; ++k)
    if ((mask >> k & 1) != 0) text += (text.empty() ? "" : ",") + Hex(kCatalogue[static_cast<size_t>(k)].number);
  return text;
}

bool ParseRegisters(std::string_view text, RegisterMask& mask, std::string& error) {
  RegisterMask parsed = 0;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (item.empty()) continue;
    if (!ParseItem(item, parsed)) {
      error = "unknown register '" + std::string(item) + "' (a hex number, a register name or a value name)";
      return false;
    }
  }
  if (parsed == 0) {
    error = "no register named";
    return false;
  }
  if (RegisterCount(parsed) > kMaxFrameLength) {
    error = std::to_string(RegisterCount(parsed)) + " registers: a frame carries at most " +
            std::to_string(kMaxFrameLength);
    return false;
  }
  mask = parsed;
  return true;
}
