// The log memory: a named shared-memory section that holds a recording,
// a 40-byte header area followed by the records. Section n is the POSIX
// shared-memory object "/.MMF<n>", visible to other processes of the user.
// Results are LogMemory::kOk and kFailed (data/Result.h).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "data/Result.h"

// The header area, 900,001 records of 48 bytes (data/Registers.h), then a
// 20-byte marker that says how many records the section holds and whether
// they were saved, so that a recording outlives a program that is killed or
// crashes.
constexpr uint32_t kRecoveryMarkerOffset = 43200128;
constexpr uint32_t kLogMemorySize = kRecoveryMarkerOffset + 32;
constexpr int kLogMemorySlot = 1;

// Reads the marker of a section's bytes; false when there is none (a fresh
// section, or one whose marker was torn).
[[nodiscard]] bool ReadRecoveryMarker(const uint8_t* view, uint32_t size, uint32_t& count, bool& unsaved);

class LogMemory {
 public:
  static constexpr Result kOk = Result::kOk;
  static constexpr Result kFailed = Result::kFailed;

  // Sections are named baseName + slot ("/.MMF1"); tests use names of their
  // own so that they never meet the program's.
  explicit LogMemory(std::string baseName = ".MMF") : baseName_(std::move(baseName)) {}
  // Unmaps every section and removes the ones this process created.
  ~LogMemory();
  LogMemory(const LogMemory&) = delete;
  LogMemory& operator=(const LogMemory&) = delete;

  // Creates (or reclaims) the section of the slot with the given size and
  // leaves it all zero. When another live process holds the section of that
  // name, a name unique to this process is used instead so that its
  // recording is never wiped.
  Result CreateSection(uint8_t slot, uint32_t size);
  Result WriteBytes(const void* source, uint8_t slot, uint32_t offset, uint32_t count);
  Result ReadBytes(void* destination, uint8_t slot, uint32_t offset, uint32_t count);

  // The marker of the slot's section: its record count and unsaved flag.
  Result WriteRecoveryMarker(uint8_t slot, uint32_t count, bool unsaved);
  // Calls visit with the bytes of every section of the slot's names that
  // nobody holds any more (left by a run that was killed or crashed), before
  // CreateSection takes them over or removes them.
  void VisitLeftovers(uint8_t slot, const std::function<void(uint8_t* view, uint32_t size)>& visit);

  uint32_t Size() const;                        // size of the section created last
  std::string SectionName(uint8_t slot) const;  // the shm name in use, "" when none

 private:
  struct Section {
    int fd = -1;
    uint8_t* view = nullptr;
    uint32_t size = 0;
    std::string name;
  };
  mutable std::mutex lock_;  // one transfer at a time: the clock and the interface share it
  std::string baseName_;
  Section sections_[256];
  uint32_t size_ = 0;
};
