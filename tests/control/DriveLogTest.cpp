// The logger's rules: the drive's file name, when a drive ends, and which
// old drives go to keep the folder within its size.
#include "control/DriveLog.h"

#include <gtest/gtest.h>

#include "data/Registers.h"

namespace {

using namespace std::chrono_literals;

SampleRecord Turning(int rpm) {
  SampleRecord record;
  record[0] = kStreamRegisterCount;
  record[RecordByteOf(0x00)] = static_cast<uint8_t>(rpm / 12.5 / 256);
  record[RecordByteOf(0x01)] = static_cast<uint8_t>(static_cast<int>(rpm / 12.5) % 256);
  return record;
}

TEST(DriveLog, FileNamesSortAsTheDrivesBeganAndHoldOnlySafeCharacters) {
  std::tm start{};
  start.tm_year = 2026 - 1900;
  start.tm_mon = 0;
  start.tm_mday = 5;
  start.tm_hour = 7;
  start.tm_min = 4;
  start.tm_sec = 9;
  EXPECT_EQ(DriveFileName(start, "8JU17"), "2026-01-05_070409_8JU17.eld");
  EXPECT_EQ(DriveFileName(start, "A/?.1"), "2026-01-05_070409_A___1.eld");
  EXPECT_EQ(DriveFileName(start, ""), "2026-01-05_070409_ECU.eld");
  EXPECT_TRUE(IsDriveFileName("2026-01-05_070409_8JU17_2.eld"));
  for (const char* other : {"notes.txt", "log_20260105_070409.eld", "2026-01-05_070409_8JU17.csv",
                            "2026-01-05_0704_8JU17.eld", "2026-01-05_070409_.eld"})
    EXPECT_FALSE(IsDriveFileName(other)) << other;
}

TEST(DriveLog, ADriveEndsAfterTenSecondsOfSilenceOrFiveMinutesOfAStillEngine) {
  const auto t0 = DriveWatch::Clock::time_point{} + 1h;
  using V = DriveWatch::Verdict;
  DriveWatch lost(t0);
  EXPECT_EQ(lost.Look(t0 + 1s, true, GapRecord()), V::kGoesOn);
  EXPECT_EQ(lost.Look(t0 + 10900ms, true, GapRecord()), V::kGoesOn);  // a loss shorter: a gap
  EXPECT_EQ(lost.Look(t0 + 11s, false, Turning(800)), V::kGoesOn);    // back: the count starts again
  EXPECT_EQ(lost.Look(t0 + 12s, true, GapRecord()), V::kGoesOn);
  EXPECT_EQ(lost.Look(t0 + 22s, true, GapRecord()), V::kLineGone);

  DriveWatch still(t0);
  EXPECT_EQ(still.Look(t0 + 1min, false, Turning(800)), V::kGoesOn);
  EXPECT_EQ(still.Look(t0 + 5min, false, Turning(0)), V::kGoesOn);
  EXPECT_EQ(still.Look(t0 + 5min + 59s, false, GapRecord()), V::kGoesOn);  // no engine speed: no say
  EXPECT_EQ(still.Look(t0 + 6min, false, Turning(0)), V::kEngineOff);
  // An ECU that never sends the engine speed never ends a drive by it.
  DriveWatch blind(t0);
  EXPECT_EQ(blind.Look(t0 + 1h, false, GapRecord()), V::kGoesOn);
}

TEST(DriveLog, TheOldestDrivesGoButNeverTheCurrentOneNorOtherFiles) {
  const uint64_t mb = 1024 * 1024;
  const std::vector<FolderFile> files = {{"2026-01-03_080000_8JU17.eld", 3 * mb},
                                         {"2026-01-01_080000_8JU17.eld", 2 * mb},
                                         {"notes.txt", 1 * mb},
                                         {"2026-01-02_080000_8JU17.eld", 2 * mb},
                                         {"2026-01-04_080000_8JU17.eld", 4 * mb}};
  EXPECT_TRUE(DrivesToDelete(files, "2026-01-04_080000_8JU17.eld", 12 * mb).empty());
  EXPECT_EQ(DrivesToDelete(files, "2026-01-04_080000_8JU17.eld", 9 * mb),
            (std::vector<std::string>{"2026-01-01_080000_8JU17.eld", "2026-01-02_080000_8JU17.eld"}));
  // Even when it alone is over the limit, the drive being written stays.
  EXPECT_EQ(DrivesToDelete(files, "2026-01-01_080000_8JU17.eld", 1 * mb),
            (std::vector<std::string>{"2026-01-02_080000_8JU17.eld", "2026-01-03_080000_8JU17.eld",
                                      "2026-01-04_080000_8JU17.eld"}));
}

}  // namespace
