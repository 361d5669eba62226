// Save and load of a full recording (900,001 records, 18,000,060 bytes)
// against `cp` of the same file, and the export of 65,501 CSV lines.
//
//   torvane_bench_files [folder]     (default: a new folder under /tmp)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "control/RecordingFiles.h"
#include "data/CsvWriter.h"
#include "data/LogFile.h"
#include "data/Recorder.h"
#include "bench/Measure.h"


using bench::BestOfThree;

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "torvane-bench";
  fs::create_directories(folder);
  const std::string log = (folder / "full.eld").string();
  const std::string copy = (folder / "copy.eld").string();
  const std::string loaded = (folder / "loaded.eld").string();

  LogMemory memory;
  RecorderState state;
  if (CreateLogMemory(memory) == Result::kFailed) {
    std::fprintf(stderr, "cannot create the log memory\n");
    return 1;
  }
  SampleRecord record;
  record[0] = kFrameLength;
  for (uint32_t i = 0; i <= static_cast<uint32_t>(kMaxRecordIndex); ++i) {
    record[1] = static_cast<uint8_t>(i >> 8);
    record[2] = static_cast<uint8_t>(i);
    record[5] = static_cast<uint8_t>(i % 200);
    if (StoreRecord(memory, record, i) == Result::kFailed) std::abort();
  }
  state.recordCount = kMaxRecordIndex + 1;

  const double save = BestOfThree([&] {
    if (SaveLogFile(log, state, memory) != kLogFileOk) std::abort();
  });
  const double load = BestOfThree([&] {
    if (LoadLogFile(log, state, memory) != kLogFileOk) std::abort();
  });
  const std::string cpCommand = "cp '" + log + "' '" + copy + "'";
  const double cp = BestOfThree([&] {
    if (std::system(cpCommand.c_str()) != 0) std::abort();
  });
  if (SaveLogFile(loaded, state, memory) != kLogFileOk) std::abort();

  std::vector<std::string> lines;
  int32_t lineCount = 0;
  const double build = BestOfThree([&] {
    lines.clear();
    BuildCsvLines(lines, lineCount, 0, 65500, state, memory, nullptr);
  });
  const double write = BestOfThree([&] {
    std::ofstream out(folder / "export.csv", std::ios::binary);
    for (const auto& line : lines) out << line << "\r\n";
  });
  // The export dialog's whole OK: build, write through a temporary file,
  // flush to disk and rename.
  int64_t written = 0;
  const double whole = BestOfThree([&] {
    if (ExportCsvFile((folder / "whole.csv").string(), 0, 65500, state, memory, nullptr, written,
                      lines) != kExportOk)
      std::abort();
  });

  std::printf("file size:                 %ju bytes\n",
              static_cast<uintmax_t>(fs::file_size(log)));
  std::printf("save of 900,001 records:   %.1f ms (written, flushed to disk, renamed)\n", save);
  std::printf("load of 900,001 records:   %.1f ms\n", load);
  std::printf("cp of the same file:       %.1f ms\n", cp);
  std::printf("export, build %d lines: %.1f ms\n", lineCount, build);
  std::printf("export, write them:        %.1f ms\n", write);
  std::printf("export, the whole of it:   %.1f ms (%jd lines to disk, fsync, rename)\n", whole,
              static_cast<intmax_t>(written));
  std::printf("round trip identical:      %s\n",
              fs::file_size(log) == fs::file_size(loaded) ? "sizes equal" : "SIZES DIFFER");
  fs::remove_all(folder);
  return 0;
}
