// The ECU's stored fault codes (its self-diagnosis) and what they mean.
//
// A code byte is read as the public protocol notes write it: its two hex
// digits are the two decimal digits the engine lamp blinks, so 0x12 is code
// 12 (air flow meter) and 0x55 is code 55, "no malfunction". A byte whose
// digits are not both decimal has no lamp code; it is still listed, with its
// raw byte, as are codes the table does not know.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One stored fault as the ECU reports it.
struct FaultCode {
  uint8_t raw = 0;     // the code byte as sent
  uint8_t starts = 0;  // engine starts since the fault was last seen
  bool operator==(const FaultCode&) const = default;
};

struct FaultCodeMeaning {
  int code;  // the two decimal digits the lamp blinks
  const char* meaning;
};

// The common two-digit engine codes. Engines differ a little in what a
// code stands for; these are the usual meanings.
inline constexpr FaultCodeMeaning kFaultCodeMeanings[] = {
    {11, "crank angle sensor"},
    {12, "air flow meter"},
    {13, "coolant temperature sensor"},
    {14, "vehicle speed sensor"},
    {21, "ignition signal"},
    {22, "fuel pump"},
    {23, "idle switch"},
    {24, "throttle valve switch"},
    {25, "idle speed control valve"},
    {28, "overheat"},
    {31, "ECU"},
    {32, "EGR function"},
    {33, "heated oxygen sensor"},
    {34, "knock sensor"},
    {35, "exhaust gas temperature sensor"},
    {36, "EGR control"},
    {37, "knock sensor (second)"},
    {38, "right bank closed loop"},
    {41, "intake air temperature sensor"},
    {42, "fuel temperature sensor"},
    {43, "throttle position sensor"},
    {45, "injector leak"},
    {47, "crank position sensor"},
    {51, "injector circuit"},
    {53, "oxygen sensor"},
    {54, "automatic transmission signal"},
    {55, "no malfunction"},
    {63, "misfire cylinder 6"},
    {64, "misfire cylinder 5"},
    {65, "misfire cylinder 4"},
    {66, "misfire cylinder 3"},
    {67, "misfire cylinder 2"},
    {68, "misfire cylinder 1"},
    {71, "random misfire"},
    {72, "catalyst"},
    {76, "fuel injection system"},
    {77, "rear oxygen sensor"},
};

constexpr uint8_t kNoMalfunctionCode = 0x55;
constexpr const char* kUnknownFaultCode = "unknown code";

// The lamp code of a code byte (0x12 -> 12); -1 when a digit is not decimal.
int FaultCodeNumber(uint8_t raw);
// The code as shown: "12", or "--" for a byte without a lamp code.
std::string FaultCodeText(uint8_t raw);
// "0x12": the byte as the ECU sent it, shown beside every code.
std::string FaultCodeRawText(uint8_t raw);
// The table's meaning, or kUnknownFaultCode.
const char* FaultCodeMeaningOf(uint8_t raw);

// The data bytes of a self-diagnosis reply, read as pairs of (code, starts).
// An odd last byte has no count and is left out; false then, and when the
// reply holds no pair at all.
bool DecodeFaultCodes(const uint8_t* data, size_t count, std::vector<FaultCode>& codes);

// Only the single pair (0x55, 0): nothing stored.
bool NoMalfunction(const std::vector<FaultCode>& codes);

// The list as CSV: the header "code,raw,starts,meaning", then one row per
// code in the ECU's order. Lines end in "\n".
std::string FaultCodesCsv(const std::vector<FaultCode>& codes);

// The ECU's full part number: its five characters after Nissan's ECU prefix.
std::string EcuPartNumber(const std::string& number);  // "8JU17" -> "23710-8JU17"
