#include "control/DriveLog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "data/Registers.h"

std::string DriveFileName(const std::tm& localStart, const std::string& ecuNumber) {
  char stamp[80];  // room for any int the fields may hold
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d_%02d%02d%02d", localStart.tm_year + 1900,
                localStart.tm_mon + 1, localStart.tm_mday, localStart.tm_hour, localStart.tm_min,
                localStart.tm_sec);
  std::string number = ecuNumber.empty() ? std::string("ECU") : ecuNumber;
  for (char& c : number)
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-') c = '_';
  return std::string(stamp) + "_" + number + ".eld";
}

bool IsDriveFileName(const std::string& name) {
  // YYYY-MM-DD_HHMMSS_ then the number and .eld; a second drive in the same
  // second has _2 before the extension.
  constexpr const char* kShape = "dddd-dd-dd_dddddd_";
  const size_t stem = std::char_traits<char>::length(kShape);
  if (name.size() <= stem + 4 || name.compare(name.size() - 4, 4, ".eld") != 0) return false;
  for (size_t i = 0; i < stem; ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
    if (kShape[i] == 'd' ? !digit : name[i] != kShape[i]) return false;
  }
  return true;
}

std::optional<int32_t> EngineSpeed(const SampleRecord& sample) {
  const ValueColumn& rpm = kValueColumns[0];
  static_assert(kValueColumns[0].highByte == RecordByteOf(0x00), "the first value is the engine speed");
  if (!HasValue(rpm, sample)) return std::nullopt;
  return ConvertValue(rpm, sample);
}

DriveWatch::Verdict DriveWatch::Look(Clock::time_point now, bool lineLost, const SampleRecord& sample) {
  if (lineLost) {
    if (!lostSince_) lostSince_ = now;
    return now - *lostSince_ >= kLostEnds ? Verdict::kLineGone : Verdict::kGoesOn;
  }
  lostSince_.reset();
  const std::optional<int32_t> rpm = EngineSpeed(sample);
  // A sample without the engine speed says nothing either way.
  if (rpm && *rpm > 0) engineSeenAt_ = now;
  return rpm && now - engineSeenAt_ >= kStandstillEnds ? Verdict::kEngineOff : Verdict::kGoesOn;
}

std::vector<std::string> DrivesToDelete(std::vector<FolderFile> files, const std::string& current,
                                        uint64_t limitBytes) {
  uint64_t total = 0;
  for (const FolderFile& file : files) total += file.bytes;
  std::sort(files.begin(), files.end(), [](const FolderFile& a, const FolderFile& b) { return a.name < b.name; });
  std::vector<std::string> doomed;
  for (const FolderFile& file : files) {
    if (total <= limitBytes) break;
    if (file.name == current || !IsDriveFileName(file.name)) continue;
    doomed.push_back(file.name);
    total -= file.bytes;
  }
  return doomed;
}
