// A second recording, read from a log file, that the tool windows show
// beside the one in the log memory: the Sub Window draws it under the
// first, the Checks list its runs, the Power Meter draws its best pull. It
// lives in memory of its own; the log memory is never touched.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "data/RecordSource.h"
#include "data/Result.h"
#include "data/SampleRecord.h"

class ComparedRecording {
 public:
  // Reads the file; a failure says why in error and keeps what was there.
  Result Load(const std::string& fileName, std::string& error);
  void Clear();
  bool Empty() const { return records_.empty(); }
  const RecordSource& Records() const { return source_; }
  // The file's name without its folder; empty when there is none.
  const std::string& Name() const { return name_; }

  // Called after every Load that succeeded and every Clear.
  int Subscribe(std::function<void()> listener);
  void Unsubscribe(int id);

 private:
  void Tell();

  std::vector<SampleRecord> records_;
  RecordSpan source_{records_};
  std::string name_;
  std::vector<std::pair<int, std::function<void()>>> listeners_;
  int nextId_ = 1;
};
