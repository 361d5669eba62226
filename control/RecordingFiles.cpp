#include "control/RecordingFiles.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "data/AtomicFile.h"
#include "data/CsvWriter.h"
#include "data/MslWriter.h"
#include "data/OverlayCsv.h"
#include "data/Registers.h"

namespace {

constexpr int64_t kExportWindow = 65501;

// Lines into a file that appears whole or not at all (without Commit the
// writer removes its temporary file), each ended by `end`.
class LineFile {
 public:
  LineFile(const std::string& fileName, const char* end, int64_t& lines)
      : writer_(fileName), end_(end), lines_(lines) {
    lines_ = 0;
    ok_ = writer_.Open();
  }
  bool Ok() const { return ok_; }
  void Write(const std::string& line) {
    ok_ = ok_ && std::fputs(line.c_str(), writer_.Stream()) >= 0 && std::fputs(end_, writer_.Stream()) >= 0;
    ++lines_;
  }
  Result Commit() { return ok_ && writer_.Commit() ? kExportOk : kExportFailed; }

 private:
  AtomicFileWriter writer_;
  const char* end_;
  int64_t& lines_;
  bool ok_ = false;
};

}  // namespace

int64_t FirstRecordWithFrame(const RecordSource& records, int64_t first, int64_t last) {
  // A block at a time, so that a long stretch is read only up to its find.
  constexpr int64_t kBlock = 4096;
  first = std::max<int64_t>(first, 0);
  last = std::min<int64_t>(last, static_cast<int64_t>(records.Count()) - 1);
  int64_t found = -1;
  for (int64_t from = first; from <= last && found < 0; from += kBlock) {
    const int64_t count = std::min(kBlock, last - from + 1);
    records.Visit(static_cast<uint32_t>(from), static_cast<uint32_t>(count),
                  [&](uint32_t at, std::span<const SampleRecord> block) {
                    for (size_t i = 0; i < block.size() && found < 0; ++i)
                      if (HoldsFrame(block[i])) found = at + static_cast<int64_t>(i);
                  });
  }
  return found;
}

Result ExportMslFile(const std::string& fileName, int64_t first, int64_t last, const RecordSource& records,
                     const std::vector<std::string>& headerLines, int64_t startUtcMs, int64_t& linesWritten) {
  LineFile file(fileName, "\n", linesWritten);
  if (!file.Ok()) return kExportFailed;
  for (const std::string& text : headerLines) file.Write(MslHeaderLine(text));
  file.Write(MslCaptureDateLine(startUtcMs));
  // The columns of the registers the recording holds anywhere.
  // An empty recording keeps the columns of the eighteen.
  RegisterMask held = RegistersHeld(records);
  if (held == 0) held = kEighteenMask;
  file.Write(MslNamesLine(held));
  file.Write(MslUnitsLine(held));
  first = FirstRecordWithFrame(records, first, last);
  last = std::min<int64_t>(last, static_cast<int64_t>(records.Count()) - 1);
  if (first >= 0 && first <= last)
    records.Visit(static_cast<uint32_t>(first), static_cast<uint32_t>(last - first + 1),
                  [&](uint32_t at, std::span<const SampleRecord> block) {
                    for (size_t i = 0; i < block.size() && file.Ok(); ++i)
                      file.Write(MslRecordLine(at + static_cast<uint32_t>(i), block[i], held));
                  });
  return file.Commit();
}

Result ExportOverlayCsvFile(const std::string& fileName, int64_t first, int64_t last, const RecordSource& records,
                            int64_t startUtcMs, double speedFactor, int64_t& linesWritten) {
  LineFile file(fileName, "\r\n", linesWritten);
  if (!file.Ok()) return kExportFailed;
  file.Write(OverlayCsvNamesLine());
  first = FirstRecordWithFrame(records, first, last);
  last = std::min<int64_t>(last, static_cast<int64_t>(records.Count()) - 1);
  if (first >= 0 && first <= last) {
    const ThrottleSpan span = ThrottleSpanOf(records, first, last);
    records.Visit(static_cast<uint32_t>(first), static_cast<uint32_t>(last - first + 1),
                  [&](uint32_t at, std::span<const SampleRecord> block) {
                    for (size_t i = 0; i < block.size() && file.Ok(); ++i)
                      file.Write(OverlayCsvLine(startUtcMs, at + static_cast<uint32_t>(i), block[i], span,
                                                speedFactor));
                  });
  }
  return file.Commit();
}

std::string MakeTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local);
  return text;
}

std::string WithExtension(const std::string& fileName, const std::string& extension) {
  std::filesystem::path path(fileName);
  path.replace_extension(extension);
  return path.string();
}

Result ExportCsvFile(const std::string& fileName, int32_t first, int32_t last,
                      const RecorderState& state, LogMemory& memory, CsvProgress* progress,
                      int64_t& linesWritten) {
  std::vector<std::string> lines;
  return ExportCsvFile(fileName, first, last, state, memory, progress, linesWritten, lines);
}

Result ExportCsvFile(const std::string& fileName, int32_t first, int32_t last,
                      const RecorderState& state, LogMemory& memory, CsvProgress* progress,
                      int64_t& linesWritten, std::vector<std::string>& lines) {
  LineFile file(fileName, "\r\n", linesWritten);
  if (!file.Ok()) return kExportFailed;
  bool headerWritten = false;
  for (int64_t from = first; file.Ok(); from += kExportWindow) {
    const int64_t to = std::min<int64_t>(last, from + kExportWindow - 1);
    int32_t lineCount = 0;
    BuildCsvLines(lines, lineCount, static_cast<int32_t>(from), static_cast<int32_t>(to), state,
                  memory, progress);
    // Every window but the first repeats the header: it is dropped.
    for (int32_t k = headerWritten ? 1 : 0; k < lineCount; ++k)
      file.Write(lines[static_cast<size_t>(k)]);
    headerWritten = true;
    // The writer stops at the record count; so does the export.
    const bool reachedCount = lineCount - 1 < to - from + 1;
    if (to >= last || reachedCount) break;
  }
  return file.Commit();
}
