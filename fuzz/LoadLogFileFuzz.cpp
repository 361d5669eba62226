// Feeds arbitrary bytes to the log file reader as a file on disk. Whatever
// the bytes, loading either succeeds with a count that the file really
// holds, or fails and leaves the recorder as it was.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "data/LogFile.h"
#include "data/Recorder.h"

namespace {

struct Target {
  LogMemory memory;
  RecorderState state;
  std::string path;

  Target() {
    if (CreateLogMemory(memory) == kRecorderFailed) std::abort();
    char pattern[] = "/tmp/torvane-fuzz-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) std::abort();
    close(fd);
    path = pattern;
  }
  ~Target() { unlink(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Target target;
  FILE* file = std::fopen(target.path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  LogFileInfo info;
  std::string error;
  const int32_t infoResult = ReadLogFileInfo(target.path, info, error);
  if (infoResult != 0 && error.empty()) std::abort();  // every refusal says why

  constexpr uint32_t kBefore = 0xDEADBEEF;
  target.state.recordCount = kBefore;
  const int32_t loaded = LoadLogFile(target.path, target.state, target.memory);
  if (loaded != infoResult) std::abort();  // the two readers agree
  if (loaded == 0) {
    const uint64_t image = uint64_t{target.state.recordCount.load()} * 20 + 40;
    if (image > size) std::abort();
  } else if (target.state.recordCount.load() != kBefore) {
    std::abort();
  }
  return 0;
}
