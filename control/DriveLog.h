// The rules of the car computer's logger (torvane-cli log): what a drive's
// file is called, when a drive is over, and which old drives go to keep the
// folder within its size. Pure: the command feeds them the clock and the
// samples, and the tests do the same.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "data/SampleRecord.h"

// "2026-12-09_174501_8JU17.eld": the drive's start in local time and the
// ECU number; characters a file name cannot hold become '_'. Names sort as
// the drives began.
std::string DriveFileName(const std::tm& localStart, const std::string& ecuNumber);
// Whether a name in the folder is a drive's: only those are ever deleted.
bool IsDriveFileName(const std::string& name);

// A drive ends when the ECU has stopped answering for kLostEnds (the
// ignition is off), or the engine speed has read 0 for kStandstillEnds (the
// engine is off and the ignition left on). A loss shorter than that is a
// gap in the same drive.
class DriveWatch {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kLostEnds{10};
  static constexpr std::chrono::minutes kStandstillEnds{5};
  enum class Verdict { kGoesOn, kLineGone, kEngineOff };

  explicit DriveWatch(Clock::time_point start) : engineSeenAt_(start) {}
  // Called every so often with the line's state and the sample shown.
  Verdict Look(Clock::time_point now, bool lineLost, const SampleRecord& sample);

 private:
  std::optional<Clock::time_point> lostSince_;
  Clock::time_point engineSeenAt_;  // the last time the engine turned, or the drive began
};

// The engine speed of a sample in rpm; nullopt when the ECU did not send it.
std::optional<int32_t> EngineSpeed(const SampleRecord& sample);

// The drives to delete, oldest first, so that what is left of the folder
// is at most limitBytes; never current (the drive being written) nor a file
// that is not a drive's. Files: name and size.
struct FolderFile {
  std::string name;
  uint64_t bytes = 0;
};
std::vector<std::string> DrivesToDelete(std::vector<FolderFile> files, const std::string& current,
                                        uint64_t limitBytes);
