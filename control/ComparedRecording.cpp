#include "control/ComparedRecording.h"

#include <algorithm>
#include <filesystem>

#include "data/LogFile.h"

Result ComparedRecording::Load(const std::string& fileName, std::string& error) {
  std::vector<SampleRecord> records;
  if (ReadLogFileRecords(fileName, records, error) != Result::kOk) return Result::kFailed;
  records_ = std::move(records);
  source_ = RecordSpan(records_);
  name_ = std::filesystem::path(fileName).filename().string();
  Tell();
  return Result::kOk;
}

void ComparedRecording::Clear() {
  records_.clear();
  source_ = RecordSpan(records_);
  name_.clear();
  Tell();
}

int ComparedRecording::Subscribe(std::function<void()> listener) {
  listeners_.emplace_back(nextId_, std::move(listener));
  return nextId_++;
}

void ComparedRecording::Unsubscribe(int id) {
  std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void ComparedRecording::Tell() {
  // A listener may unsubscribe meanwhile: the list is walked as it was.
  const auto listeners = listeners_;
  for (const auto& [id, listener] : listeners) listener();
}
