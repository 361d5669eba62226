#include "link/ActiveTests.h"

#include <gtest/gtest.h>

#include <set>

// Whatever index and value a caller passes, the only test numbers that can
// reach the test position are the table's, never one above 9F, and every
// value byte is one the table's range gives.
TEST(ActiveTestRequests, NothingOutsideTheTableCanBeBuilt) {
  std::set<uint8_t> allowed;
  for (const ActiveTest& t : kActiveTests) {
    allowed.insert(t.number);
    if (t.pairNumber != 0) allowed.insert(t.pairNumber);
  }
  int built = 0;
  for (int index = -2; index < static_cast<int>(kActiveTests.size()) + 2; ++index) {
    for (int value = -300; value <= 300; ++value) {
      uint8_t request[kActiveTestRequestMax] = {};
      const int n = BuildActiveTestRequest(index, value, request);
      const bool legal = index >= 0 && index < static_cast<int>(kActiveTests.size()) &&
                         ActiveTestValueAllowed(kActiveTests[static_cast<size_t>(index)], value);
      ASSERT_EQ(n > 0, legal) << index << " " << value;
      if (n == 0) {
        for (uint8_t b : request) ASSERT_EQ(b, 0);  // nothing written
        continue;
      }
      ++built;
      ASSERT_TRUE(n == 3 || n == 6);
      for (int k = 0; k < n; k += 3) {
        EXPECT_EQ(request[k], kConsultActiveTest);
        EXPECT_TRUE(allowed.count(request[k + 1]) == 1) << int(request[k + 1]);
        EXPECT_LE(request[k + 1], kHighestSafeTestNumber);
      }
    }
  }
  EXPECT_GT(built, 100);
}

TEST(ActiveTestRequests, ValuesBecomeTheBytesTheNotesGive) {
  uint8_t r[kActiveTestRequestMax] = {};
  ASSERT_EQ(BuildActiveTestRequest(FindActiveTest("coolant"), 90, r), 3);
  EXPECT_EQ(r[1], 0x80);
  EXPECT_EQ(r[2], 140);  // degrees + 50
  ASSERT_EQ(BuildActiveTestRequest(FindActiveTest("injection"), 100, r), 3);
  EXPECT_EQ(r[2], 0x64);
  ASSERT_EQ(BuildActiveTestRequest(FindActiveTest("aac"), 35, r), 3);
  EXPECT_EQ(r[2], 70);  // half a percent a step
  EXPECT_EQ(BuildActiveTestRequest(FindActiveTest("aac"), 101, r), 0);
  ASSERT_EQ(BuildActiveTestRequest(FindActiveTest("power-balance"), 6, r), 3);
  EXPECT_EQ(r[2], 0x20);
  EXPECT_EQ(BuildActiveTestRequest(FindActiveTest("power-balance"), 0, r), 0);  // no cylinder: no test
  ASSERT_EQ(BuildActiveTestRequest(FindActiveTest("fans"), 2, r), 6);
  EXPECT_EQ((std::array<uint8_t, 6>{r[0], r[1], r[2], r[3], r[4], r[5]}),
            (std::array<uint8_t, 6>{0x0A, 0x93, 1, 0x0A, 0x94, 1}));
  EXPECT_EQ(FindActiveTest("ignition"), -1);  // its offset's encoding is not known
}
