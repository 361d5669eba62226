// The log memory: a named shared-memory section that holds a recording,
// a 40-byte header area followed by 20-byte records. Section n is the POSIX
// shared-memory object "/.MMF<n>", visible to other processes of the user.
// Results are 0 for success and 1 for failure.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

constexpr uint32_t kLogMemorySize = 33554431;  // one byte short of 32 MiB
constexpr int kLogMemorySlot = 1;

class LogMemory {
 public:
  LogMemory() = default;
  // Unmaps every section and removes the ones this process created.
  ~LogMemory();
  LogMemory(const LogMemory&) = delete;
  LogMemory& operator=(const LogMemory&) = delete;

  // Creates (or reclaims) the section of the slot with the given size and
  // leaves it all zero. When another live process holds the section of that
  // name, a name unique to this process is used instead so that its
  // recording is never wiped.
  int32_t CreateSection(uint8_t slot, uint32_t size);
  int32_t WriteBytes(const void* source, uint8_t slot, uint32_t offset, uint32_t count);
  int32_t ReadBytes(void* destination, uint8_t slot, uint32_t offset, uint32_t count);
  // Move the first length bytes of the section to or from a file.
  int32_t SaveToFile(const std::string& fileName, uint8_t slot, uint32_t length);
  int32_t LoadFromFile(const std::string& fileName, uint8_t slot, uint32_t length);

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
  Section sections_[256];
  uint32_t size_ = 0;
};
