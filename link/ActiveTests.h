// The active tests: the only actuator commands the program may ever send.
// A test is requested as 0A, the test number, the value, then F0 (the ECU
// echoes F5, 0A inverted), and holds until the stop byte 30 releases it.
// Nothing outside this table reaches the line: a test is chosen by its row
// and a value the row allows, and BuildActiveTestRequest refuses anything
// else. (One ECU re-registered its immobiliser keys when sent a test
// number above 9F; the table is checked at build time to hold none.)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint8_t kConsultActiveTest = 0x0A;
constexpr uint8_t kConsultActiveTestEcho = 0xF5;  // 0A inverted
constexpr uint8_t kHighestSafeTestNumber = 0x9F;

// How a value the user chooses becomes the byte sent.
enum class TestEncoding {
  kDegreesPlus50,  // coolant temperature: byte = degrees C + 50
  kPercent,        // injection trim: byte = percent (0x64 = 100 %)
  kHalfPercent,    // AAC valve opening: byte = percent x 2
  kCylinder,       // power balance: byte = the bit of cylinder 1..6
  kOnOff,          // 0 off, 1 on
  kFanSpeed,       // 0 off, 1 low, 2 high: sent as the pair 93 (low) and 94 (high)
  kAction,         // no choice: the byte 00
};

struct ActiveTest {
  const char* name;     // for torvane-cli --test
  const char* caption;  // in the Active Test window
  uint8_t number;       // the test number sent
  uint8_t pairNumber;   // a second test number always sent with it, or 0
  TestEncoding encoding;
  int minValue;  // the values allowed, in the unit shown, every step between
  int maxValue;
  int step;
  int restValue;         // the value a control starts at
  const char* unit;      // of the value: "deg C", "%", "cylinder", ""
  bool standstillOnly;   // only with the road speed at 0
  const char* whatItDoes;  // for the question before it is applied
};

inline constexpr std::array<ActiveTest, 7> kActiveTests = {{
    {"coolant", "Coolant temperature seen by the ECU", 0x80, 0, TestEncoding::kDegreesPlus50, -20, 110, 1, 80,
     "deg C", false,
     "The ECU takes this coolant temperature instead of the sensor's: it changes the fuel mixture, the idle "
     "speed and the fans as it would at that temperature."},
    {"injection", "Injection time trim", 0x81, 0, TestEncoding::kPercent, 80, 120, 1, 100, "%", false,
     "The ECU lengthens or shortens every injection by this share: the mixture turns rich or lean."},
    {"aac", "Idle air (AAC) valve opening", 0x84, 0, TestEncoding::kHalfPercent, 0, 100, 1, 20, "%", false,
     "The ECU holds the idle air valve at this opening: the idle speed follows it (used to set the base idle "
     "and timing)."},
    {"power-balance", "Power balance (cylinder cut)", 0x88, 0, TestEncoding::kCylinder, 1, 6, 1, 1, "cylinder",
     true,
     "The ECU stops injecting into this cylinder: the engine runs on the others and its speed drops (a weak "
     "cylinder drops it less). Only at a standstill."},
    {"fuel-pump", "Fuel pump relay", 0x89, 0, TestEncoding::kOnOff, 0, 1, 1, 1, "", true,
     "The ECU switches the fuel pump relay (1 on, 0 off; some ECUs have it the other way round: see the "
     "relay's mark). Off, the engine stalls. Only at a standstill."},
    {"clear-learning", "Clear self-learned values", 0x8B, 0, TestEncoding::kAction, 0, 0, 1, 0, "", false,
     "The ECU forgets what it has learned about the fuel mixture and idle since the last clearing, as after "
     "a repair: it learns it again while the engine runs."},
    {"fans", "Cooling fans", 0x93, 0x94, TestEncoding::kFanSpeed, 0, 2, 1, 1, "", false,
     "The ECU runs the cooling fans at this speed (0 off, 1 low, 2 high)."},
}};

// The index of the test of that name; -1 when there is none.
int FindActiveTest(const std::string& name);
// The value allowed for the test: within its range, on a step.
bool ActiveTestValueAllowed(const ActiveTest& test, int value);

// The value as the window and the status lines show it: "35 %", "cylinder
// 3", "on", "high"; "" for a test without a value.
std::string ActiveTestValueText(const ActiveTest& test, int value);

// The bytes of a test request without the terminator: 0A tt vv, and for a
// paired test 0A tt vv 0A t2 v2. At most this many.
constexpr int kActiveTestRequestMax = 6;
// Fills request with the test of that index at that value and returns its
// length; 0 (and nothing written) for an index or value the table does not
// allow.
int BuildActiveTestRequest(int testIndex, int value, uint8_t (&request)[kActiveTestRequestMax]);
