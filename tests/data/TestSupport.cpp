#include "TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(file);
  return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

bool ShmExists(const std::string& name) { return FileExists("/dev/shm" + name); }

bool RecordingView::TimeUnitChecked(TimeUnit unit) {
  std::lock_guard<std::mutex> guard(lock_);
  return std::find(checkedUnits.begin(), checkedUnits.end(), unit) != checkedUnits.end();
}

void RecordingView::SetStatusText(const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  lastStatus_ = text;
  ++statusCount_;
  if (keepStatusTexts) effects_.push_back("status:" + text);
}

void RecordingView::SetPlayPosition(int32_t position) {
  std::lock_guard<std::mutex> guard(lock_);
  effects_.push_back("position:" + std::to_string(position));
}

void RecordingView::ClickStopButton() {
  std::lock_guard<std::mutex> guard(lock_);
  if (clockEnable_ != nullptr) clockEnable_->store(0);
  effects_.push_back("stop");
}

void RecordingView::ShowMessage(const std::string& text, const std::string& caption) {
  std::lock_guard<std::mutex> guard(lock_);
  effects_.push_back("message:" + text + "|" + caption);
}

void RecordingView::AddStatusLine(const std::string& line) {
  std::lock_guard<std::mutex> guard(lock_);
  effects_.push_back("line:" + line);
}

bool RecordingView::AskYesNo(const std::string& text, const std::string& caption) {
  std::lock_guard<std::mutex> guard(lock_);
  questions.push_back(text + "|" + caption);
  return answerYes;
}

std::vector<std::string> RecordingView::Effects() const {
  std::lock_guard<std::mutex> guard(lock_);
  return effects_;
}

std::string RecordingView::LastStatusText() const {
  std::lock_guard<std::mutex> guard(lock_);
  return lastStatus_;
}

int RecordingView::StatusTextCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return statusCount_;
}

SampleRecord PatternRecord(uint32_t n) {
  SampleRecord r;
  r[0] = kFrameLength;
  for (int b = 1; b < kSampleRecordSize; ++b) r[b] = static_cast<uint8_t>((n >> ((b % 4) * 8)) + b);
  return r;
}
