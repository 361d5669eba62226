#include "link/ActiveTests.h"

namespace {

constexpr bool TableIsSafe() {
  for (const ActiveTest& t : kActiveTests) {
    if (t.number < 0x80 || t.number > kHighestSafeTestNumber) return false;
    if (t.pairNumber != 0 && (t.pairNumber < 0x80 || t.pairNumber > kHighestSafeTestNumber)) return false;
    if (t.minValue > t.maxValue || t.step <= 0 || t.restValue < t.minValue || t.restValue > t.maxValue)
      return false;
    if ((t.pairNumber != 0) != (t.encoding == TestEncoding::kFanSpeed)) return false;
  }
  return true;
}
static_assert(TableIsSafe(), "test numbers 80..9F only, and sound value ranges");

// The byte a value becomes; every value the table allows fits a byte.
uint8_t ValueByte(TestEncoding encoding, int value) {
  switch (encoding) {
    case TestEncoding::kDegreesPlus50: return static_cast<uint8_t>(value + 50);
    case TestEncoding::kPercent: return static_cast<uint8_t>(value);
    case TestEncoding::kHalfPercent: return static_cast<uint8_t>(value * 2);
    case TestEncoding::kCylinder: return static_cast<uint8_t>(1u << (value - 1));
    case TestEncoding::kOnOff: return static_cast<uint8_t>(value);
    case TestEncoding::kFanSpeed: return static_cast<uint8_t>(value >= 1 ? 1 : 0);
    case TestEncoding::kAction: return 0;
  }
  return 0;
}

}  // namespace

int FindActiveTest(const std::string& name) {
  for (size_t i = 0; i < kActiveTests.size(); ++i)
    if (name == kActiveTests[i].name) return static_cast<int>(i);
  return -1;
}

bool ActiveTestValueAllowed(const ActiveTest& test, int value) {
  return value >= test.minValue && value <= test.maxValue && (value - test.minValue) % test.step == 0;
}

int BuildActiveTestRequest(int testIndex, int value, uint8_t (&request)[kActiveTestRequestMax]) {
  if (testIndex < 0 || static_cast<size_t>(testIndex) >= kActiveTests.size()) return 0;
  const ActiveTest& test = kActiveTests[static_cast<size_t>(testIndex)];
  if (!ActiveTestValueAllowed(test, value)) return 0;
  int n = 0;
  request[n++] = kConsultActiveTest;
  request[n++] = test.number;
  request[n++] = ValueByte(test.encoding, value);
  if (test.pairNumber != 0) {
    request[n++] = kConsultActiveTest;
    request[n++] = test.pairNumber;
    request[n++] = static_cast<uint8_t>(value == 2 ? 1 : 0);
  }
  return n;
}

std::string ActiveTestValueText(const ActiveTest& test, int value) {
  switch (test.encoding) {
    case TestEncoding::kCylinder: return "cylinder " + std::to_string(value);
    case TestEncoding::kOnOff: return value != 0 ? "on" : "off";
    case TestEncoding::kFanSpeed: return value == 0 ? "off" : value == 1 ? "low" : "high";
    case TestEncoding::kAction: return "";
    default: return std::to_string(value) + " " + test.unit;
  }
}
