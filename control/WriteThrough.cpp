#include "control/WriteThrough.h"

#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <vector>

#include "data/Escape.h"
#include "data/Recorder.h"

namespace {

// Records copied out of the log memory and appended at a time.
constexpr uint32_t kBlockRecords = 1024;
constexpr RegisterMask kCatalogueMask = (RegisterMask{1} << kCatalogueSize) - 1;

}  // namespace

WriteThrough::WriteThrough(const RecorderState& state, LogMemory& memory) : state_(state), memory_(memory) {}

WriteThrough::~WriteThrough() {
  std::string ignored;
  (void)Finish(ignored);
}

Result WriteThrough::Begin(const std::string& fileName, ExistingFile existing, std::string& error) {
  if (active_.load()) {
    error = "a recording is being written to " + Escaped(fileName_) + " already";
    return Result::kFailed;
  }
  const RegisterMask registers = state_.registersAsked != 0 ? state_.registersAsked & kCatalogueMask : kEighteenMask;
  // A part number out of all reason is cut rather than lose the recording.
  const std::string part = state_.ecuPartNumber.substr(0, kMaxPartNumberLength);
  if (appender_.Open(fileName, part, state_.startUtcMs, registers, error, existing) != Result::kOk)
    return Result::kFailed;
  fileName_ = fileName;
  unsynced_ = false;
  syncLost_.clear();
  finished_ = Result::kOk;
  finishedError_.clear();
  records_ = 0;
  bytes_ = appender_.Size();
  syncs_ = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = false;
    failureNoted_ = false;
    failure_.clear();
    failingSince_.clear();
  }
  try {
    thread_ = std::thread(&WriteThrough::Run, this);
  } catch (const std::system_error& failure) {
    std::string ignored;
    (void)appender_.Close(ignored);
    unlink(fileName.c_str());  // no more than its header
    error = std::string("cannot start the writing: ") + failure.what();
    return Result::kFailed;
  }
  active_ = true;
  return Result::kOk;
}

Result WriteThrough::Finish(std::string& error) {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  if (!appender_.IsOpen()) {
    if (finished_ != Result::kOk) error = finishedError_;
    return finished_;
  }
  std::string reason;
  bool ok = WriteStored(reason);
  std::string closeError;
  if (appender_.Close(closeError) != Result::kOk && ok) {
    ok = false;
    reason = closeError;
  }
  active_ = false;
  std::lock_guard<std::mutex> hold(lock_);
  if (!ok) {
    // The first of a run of failures says best why: a full disk, say,
    // rather than what a last attempt on it met.
    finishedError_ = failingSince_.empty() ? reason : failingSince_;
  } else if (!syncLost_.empty()) {
    finishedError_ = syncLost_;
  }
  finished_ = finishedError_.empty() ? Result::kOk : Result::kFailed;
  if (finished_ != Result::kOk) error = finishedError_;
  return finished_;
}

bool WriteThrough::Active() const { return active_.load(); }

const std::string& WriteThrough::FileName() const { return fileName_; }

std::string WriteThrough::TakeFailure() {
  std::lock_guard<std::mutex> hold(lock_);
  std::string failure;
  failure.swap(failure_);
  return failure;
}

uint64_t WriteThrough::RecordsWritten() const { return records_.load(); }
uint64_t WriteThrough::BytesWritten() const { return bytes_.load(); }
uint64_t WriteThrough::Syncs() const { return syncs_.load(); }

void WriteThrough::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  auto next = std::chrono::steady_clock::now() + kPeriod;
  while (!wake_.wait_until(hold, next, [this] { return stop_; })) {
    // Unlocked while it writes: a slow disk holds up nobody who asks for
    // a failure meanwhile, nor Finish's wish to stop.
    hold.unlock();
    std::string reason;
    const bool ok = WriteStored(reason);
    hold.lock();
    if (ok) {
      failingSince_.clear();
    } else {
      NoteFailure(reason);
    }
    // A round that took longer than a period is followed by the next at
    // once, so that the time between syncs stays near the period.
    next = std::max(next + kPeriod, std::chrono::steady_clock::now());
  }
}

void WriteThrough::NoteFailure(const std::string& reason) {
  if (failingSince_.empty()) failingSince_ = reason;
  if (failureNoted_) return;
  failureNoted_ = true;
  failure_ = reason;
}

bool WriteThrough::WriteStored(std::string& error) {
  // Records below the count are whole: the recorder raises it after each
  // store.
  const uint32_t count = state_.recordCount.load();
  std::vector<SampleRecord> block;
  // The appender's count is where the file ends: a failed append took
  // nothing, so the next round starts at the same record.
  for (uint32_t at = appender_.Count(); at < count; at = appender_.Count()) {
    block.resize(std::min(kBlockRecords, count - at));
    for (uint32_t i = 0; i < block.size(); ++i) {
      if (FetchRecord(memory_, block[i], at + i) != Result::kOk) {
        error = "cannot read record " + std::to_string(at + i) + " of the log memory";
        return false;
      }
    }
    if (appender_.Append(block, error) != Result::kOk) return false;
    unsynced_ = true;
    records_ = appender_.Count();
    bytes_ = appender_.Size();
  }
  if (unsynced_) {
    if (appender_.Sync(error) != Result::kOk) {
      // The system may have dropped what that sync was to write, and a later
      // sync does not write it again: the file can no longer be vouched for.
      if (syncLost_.empty()) syncLost_ = error;
      return false;
    }
    unsynced_ = false;
    ++syncs_;
  }
  return true;
}
