#include "Memmap.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

// How the section of a slot is shared between processes:
//
// - The section is a POSIX shared-memory object. Its owner holds an
//   exclusive flock() on it for as long as it lives. The lock is released by
//   the kernel when the process ends, also when it crashes, so "locked" means
//   "a live program uses this recording".
// - A program that finds the name locked by someone else takes a name of its
//   own, "/.MMF1.<pid>", and leaves the other recording alone.
// - A program that finds the name unlocked has found the leftover of a crashed
//   run: it takes the object over and empties it.
// - The owner unlinks its name when it ends, so nothing stays in /dev/shm.
//
// Emptying uses ftruncate to 0 and back: the kernel hands out zero pages on
// first touch, so a fresh 32 MiB section costs no resident memory until
// records are written.

namespace {

std::string BaseName(const std::string& base, uint8_t slot) {
  return "/" + base + std::to_string(slot);
}

// The marker in the unused tail of the section; see Memmap.h.
// '2': records of 48 bytes. A section left by a build of 20-byte records
// has no marker where this one looks, and is not taken for one of ours.
constexpr char kMarkerMagic[8] = {'T', 'O', 'R', 'V', 'R', 'E', 'C', '2'};
constexpr uint32_t kMarkerSize = 20;

uint32_t MarkerCheck(uint32_t count, uint32_t unsaved) { return count ^ (unsaved * 0x9E3779B9u) ^ 0x5AA5C33Cu; }

void PutU32(uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); }
uint32_t GetU32(const uint8_t* at) {
  uint32_t v;
  std::memcpy(&v, at, 4);
  return v;
}

// True when fd is still the object that the name refers to. An owner that
// ends unlinks its name before its lock goes away; whoever locked the object
// in that moment holds an orphan and must start over.
bool NameStillRefersTo(const std::string& name, int fd) {
  struct stat mine {};
  if (fstat(fd, &mine) != 0) return false;
  const int other = shm_open(name.c_str(), O_RDONLY, 0);
  if (other < 0) return false;
  struct stat theirs {};
  const bool same = fstat(other, &theirs) == 0 && theirs.st_dev == mine.st_dev &&
                    theirs.st_ino == mine.st_ino;
  close(other);
  return same;
}

// Opens (creating if needed) the object of that name and locks it. Returns
// the descriptor, or -1 with busy set when the object belongs to someone
// else (a live process holds the lock, or another user owns it).
int OpenAndLock(const std::string& name, bool& busy) {
  busy = false;
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0) {
      busy = errno == EACCES;  // another user's section: not ours to touch
      return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      busy = errno == EWOULDBLOCK;
      close(fd);
      return -1;
    }
    if (NameStillRefersTo(name, fd)) return fd;
    close(fd);  // an orphan: the name has moved on, try again
  }
  return -1;
}

// Removes "/.MMF<slot>.<pid>" objects that crashed runs left behind: their
// process is gone and nobody holds their lock. Linux keeps POSIX shared
// memory in /dev/shm; elsewhere this finds nothing and does no harm.
void ReclaimPerProcessLeftovers(const std::string& base, uint8_t slot) {
  DIR* dir = opendir("/dev/shm");
  if (dir == nullptr) return;
  const std::string prefix = BaseName(base, slot).substr(1) + ".";
  std::vector<std::string> stale;
  while (const dirent* entry = readdir(dir)) {
    const std::string file = entry->d_name;
    if (file.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string rest = file.substr(prefix.size());
    char* endOfPid = nullptr;
    const long pid = std::strtol(rest.c_str(), &endOfPid, 10);
    if (pid <= 0 || endOfPid == rest.c_str()) continue;
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // still alive
    stale.push_back("/" + file);
  }
  closedir(dir);
  for (const std::string& name : stale) {
    const int fd = shm_open(name.c_str(), O_RDWR, 0);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && NameStillRefersTo(name, fd)) shm_unlink(name.c_str());
    close(fd);
  }
}

// Names this process tries after the shared one: "/.MMF1.<pid>", then
// "/.MMF1.<pid>.2" and so on for further instances inside one process.
std::string PrivateName(const std::string& base, uint8_t slot, int n) {
  std::string name = BaseName(base, slot) + "." + std::to_string(getpid());
  if (n > 1) name += "." + std::to_string(n);
  return name;
}

}  // namespace

LogMemory::~LogMemory() {
  for (Section& section : sections_) {
    if (section.fd < 0) continue;
    // Still holding the lock, so nobody else can have taken the name over.
    // A section that still holds an unsaved recording is left for the next
    // start to recover: an orderly close clears its marker first, so only an
    // end the program did not see coming (exit() from a lost display) keeps it.
    uint32_t count = 0;
    bool unsaved = false;
    const bool keep = section.view != nullptr &&
                      ReadRecoveryMarker(section.view, section.size, count, unsaved) && unsaved;
    if (!keep && NameStillRefersTo(section.name, section.fd)) shm_unlink(section.name.c_str());
    if (section.view != nullptr) munmap(section.view, section.size);
    close(section.fd);
  }
}

Result LogMemory::CreateSection(uint8_t slot, uint32_t size) {
  std::lock_guard<std::mutex> guard(lock_);
  size_ = size;
  Section& section = sections_[slot];

  if (section.fd < 0) {
    ReclaimPerProcessLeftovers(baseName_, slot);
    bool busy = false;
    std::string name = BaseName(baseName_, slot);
    int fd = OpenAndLock(name, busy);
    for (int n = 1; fd < 0 && busy && n < 100; ++n) {
      name = PrivateName(baseName_, slot, n);
      fd = OpenAndLock(name, busy);
    }
    if (fd < 0) return kFailed;
    section.fd = fd;
    section.name = name;
  }

  if (section.view != nullptr) {
    munmap(section.view, section.size);
    section.view = nullptr;
    section.size = 0;
  }
  // Empty it without touching a page (see the top of the file); a leftover
  // of a crashed run loses its old bytes here.
  if (ftruncate(section.fd, 0) != 0 || ftruncate(section.fd, static_cast<off_t>(size)) != 0)
    return kFailed;
  if (size == 0) return kFailed;  // nothing to map
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, section.fd, 0);
  if (view == MAP_FAILED) return kFailed;
  section.view = static_cast<uint8_t*>(view);
  section.size = size;
  return kOk;
}

// Offset and count are the caller's to check; the test here only keeps a
// wrong caller from writing outside the mapping.
Result LogMemory::WriteBytes(const void* source, uint8_t slot, uint32_t offset, uint32_t count) {
  std::lock_guard<std::mutex> guard(lock_);
  Section& section = sections_[slot];
  if (section.view == nullptr) return kFailed;
  if (static_cast<uint64_t>(offset) + count > section.size) return kFailed;
  std::memcpy(section.view + offset, source, count);
  return kOk;
}

Result LogMemory::ReadBytes(void* destination, uint8_t slot, uint32_t offset, uint32_t count) {
  std::lock_guard<std::mutex> guard(lock_);
  const Section& section = sections_[slot];
  if (section.view == nullptr) return kFailed;
  if (static_cast<uint64_t>(offset) + count > section.size) return kFailed;
  std::memcpy(destination, section.view + offset, count);
  return kOk;
}

uint32_t LogMemory::Size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return size_;
}

std::string LogMemory::SectionName(uint8_t slot) const {
  std::lock_guard<std::mutex> guard(lock_);
  return sections_[slot].fd >= 0 ? sections_[slot].name : std::string();
}

// ---- Recovery marker ---------------------------------------------------------
// magic (8 bytes), record count, unsaved flag, check word: 20 bytes at
// kRecoveryMarkerOffset. Written whole under the lock; the check word tells
// a torn write (a crash in the middle of it) from a marker.

Result LogMemory::WriteRecoveryMarker(uint8_t slot, uint32_t count, bool unsaved) {
  uint8_t marker[kMarkerSize];
  std::memcpy(marker, kMarkerMagic, 8);
  PutU32(marker + 8, count);
  PutU32(marker + 12, unsaved ? 1u : 0u);
  PutU32(marker + 16, MarkerCheck(count, unsaved ? 1u : 0u));
  return WriteBytes(marker, slot, kRecoveryMarkerOffset, kMarkerSize);
}

bool ReadRecoveryMarker(const uint8_t* view, uint32_t size, uint32_t& count, bool& unsaved) {
  if (view == nullptr || size < kRecoveryMarkerOffset + kMarkerSize) return false;
  const uint8_t* marker = view + kRecoveryMarkerOffset;
  if (std::memcmp(marker, kMarkerMagic, 8) != 0) return false;
  const uint32_t c = GetU32(marker + 8);
  const uint32_t u = GetU32(marker + 12);
  if (u > 1 || GetU32(marker + 16) != MarkerCheck(c, u)) return false;
  count = c;
  unsaved = u == 1;
  return true;
}

void LogMemory::VisitLeftovers(uint8_t slot,
                               const std::function<void(uint8_t* view, uint32_t size)>& visit) {
  const std::string shared = BaseName(baseName_, slot);
  std::vector<std::string> names{shared};
  if (DIR* dir = opendir("/dev/shm")) {
    const std::string prefix = shared.substr(1) + ".";
    while (const dirent* entry = readdir(dir)) {
      const std::string file = entry->d_name;
      if (file.compare(0, prefix.size(), prefix) == 0) names.push_back("/" + file);
    }
    closedir(dir);
  }
  for (const std::string& name : names) {
    const int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) continue;
    // A live program holds its section's lock: only what nobody holds is a
    // leftover, and holding the lock now keeps anyone from taking it over
    // while it is read.
    struct stat info {};
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && NameStillRefersTo(name, fd) && fstat(fd, &info) == 0 &&
        info.st_size > 0 && static_cast<uint64_t>(info.st_size) <= kLogMemorySize) {
      const auto size = static_cast<uint32_t>(info.st_size);
      void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (view != MAP_FAILED) {
        visit(static_cast<uint8_t*>(view), size);
        munmap(view, size);
      }
    }
    close(fd);  // also drops the lock
  }
}
