// A copy of the recording in the log memory, brought up to date on demand,
// for the windows that draw or analyse it. It only ever reads the memory.
#pragma once

#include <cstdint>
#include <vector>

#include "data/SampleRecord.h"
#include "control/ProgramInstances.h"

class RecordingMirror {
 public:
  explicit RecordingMirror(const ProgramInstances& instances) : instances_(instances) {}

  enum class Change { None, Appended, Replaced };
  // Appended: records [previous size, size) are new. Replaced: the copy is
  // another recording now (a file was loaded, a new recording began).
  Change Update();

  const std::vector<SampleRecord>& Records() const { return records_; }
  // A live recording that is growing: the recording clock stores a record
  // every 10 ms.
  bool Live() const { return live_; }
  // Whether the state says so now, without reading any records.
  bool LiveNow() const;

 private:
  bool ReadRange(uint32_t first, uint32_t count, std::vector<SampleRecord>& into);
  bool SameAsMemory();

  ProgramInstances instances_;
  std::vector<SampleRecord> records_;
  bool live_ = false;
  bool everRead_ = false;
};
