// Feeds arbitrary bytes to the log file reader, of either version, as a
// file. Whatever the bytes, loading either succeeds with records that the
// file really holds, none with a value the file does not list as sent, or
// fails with a reason and leaves the recorder as it was; the reader of a
// recording to compare with agrees, record for record. The file lives in memory (a
// memfd, opened again by its /proc path as the readers open any file), so
// no run waits for a disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "data/LogFile.h"
#include "data/LogRecords.h"
#include "data/Recorder.h"

namespace {

struct Target {
  LogMemory memory;
  RecorderState state;
  int fd = -1;
  std::string path;

  Target() {
    if (CreateLogMemory(memory) == Result::kFailed) std::abort();
    fd = memfd_create("torvane-fuzz-log", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    path = "/proc/self/fd/" + std::to_string(fd);
  }
  ~Target() { close(fd); }

  void Write(const uint8_t* data, size_t size) const {
    if (ftruncate(fd, 0) != 0) std::abort();
    for (size_t done = 0; done < size;) {
      const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Target target;
  target.Write(data, size);

  LogFileInfo info;
  std::string error;
  const Result infoResult = ReadLogFileInfo(target.path, info, error);
  if (infoResult != kLogFileOk && error.empty()) std::abort();  // every refusal says why

  constexpr uint32_t kBefore = 0xDEADBEEF;
  target.state.recordCount = kBefore;
  std::string loadError;
  const Result loaded = LoadLogFile(target.path, target.state, target.memory, loadError);
  if (loaded != infoResult) std::abort();  // the two readers agree
  const uint32_t count = target.state.recordCount.load();
  if (loaded == kLogFileOk) {
    if (count != info.recordCount) std::abort();
    const uint64_t image = uint64_t{info.headerSize} + uint64_t{count} * info.recordSize;
    if (image > size) std::abort();
  } else if (count != kBefore || loadError.empty()) {
    std::abort();
  }
  // The reader of a recording to compare with takes the same files, and
  // gives the same records.
  std::vector<SampleRecord> records;
  const Result read = ReadLogFileRecords(target.path, records, error);
  if (read != infoResult) std::abort();
  if (read == kLogFileOk ? records.size() != info.recordCount : !records.empty()) std::abort();
  if (read == kLogFileOk && ReadLogRecords(target.memory, 0, count) != records) std::abort();
  for (const SampleRecord& record : records) {
    const RegisterMask present = PresentRegisters(record);
    if ((present & ~info.registers) != 0) std::abort();
    for (int k = 0; k < kCatalogueSize; ++k)
      if ((present >> k & 1) == 0 && record[RecordByteOfEntry(k)] != 0) std::abort();
  }
  return 0;
}
