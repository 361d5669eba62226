// A live recording on disk as it is made. The log memory outlives a crash
// of the program but not a power cut, the usual end of a car's computer:
// while a reading runs, its records also go to a log file of the second
// version, made durable every kPeriod, so that a power cut costs at most the
// last second. A writer that dies leaves the file unlocked, and the next
// start offers it back (control/Recovery.h).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "data/LogFileV2.h"
#include "data/Memmap.h"
#include "data/Result.h"
#include "data/SampleRecord.h"

// Writes a live recording to a log file of the second version as it is
// made: a thread of its own appends, every kPeriod, the records the
// recorder has stored since the last time (those below state.recordCount)
// and syncs them. It never takes a lock the recording clock waits for
// beyond a record's copy out of the log memory. One recording per Begin:
// the recorder's count must not start again from 0 before Finish.
class WriteThrough {
 public:
  WriteThrough(const RecorderState& state, LogMemory& memory);
  ~WriteThrough();  // Finish(), ignoring its result
  WriteThrough(const WriteThrough&) = delete;
  WriteThrough& operator=(const WriteThrough&) = delete;

  // Creates the file with the state's facts (part number, start time and
  // registers asked, 0 standing for the eighteen) and starts the thread.
  // kFailed with the reason when the file cannot be made or a file is being
  // written already. Call on the thread that owns the state's facts.
  Result Begin(const std::string& fileName, ExistingFile existing, std::string& error);
  // Appends what is left, syncs, closes and ends the thread. kOk when every
  // record stored reached the disk; otherwise the reason the writing began
  // to fail. Safe when not begun (kOk); a repeat gives the same answer.
  Result Finish(std::string& error);
  bool Active() const;
  const std::string& FileName() const;  // "" before Begin
  // A write that failed while running (disk full, device gone): its reason,
  // once per Begin, however often it fails again; "" when none. Any thread.
  std::string TakeFailure();
  // For the benchmark: records and bytes (the header's included) in the
  // file, and syncs made.
  uint64_t RecordsWritten() const;
  uint64_t BytesWritten() const;
  uint64_t Syncs() const;

  static constexpr std::chrono::milliseconds kPeriod{500};

 private:
  void Run();
  // Appends records [appender's count, recordCount) and syncs them; false
  // with the reason when a step fails. The thread's alone while it runs,
  // then Finish's.
  bool WriteStored(std::string& error);
  void NoteFailure(const std::string& reason);

  const RecorderState& state_;
  LogMemory& memory_;
  LogFileAppender appender_;
  bool unsynced_ = false;  // with the appender
  std::string syncLost_;  // the first failed sync's reason
  std::thread thread_;
  std::string fileName_;
  std::atomic<bool> active_{false};
  Result finished_ = Result::kOk;  // what the last Finish gave, for a repeat
  std::string finishedError_;

  std::mutex lock_;  // guards the rest
  std::condition_variable wake_;
  bool stop_ = false;
  bool failureNoted_ = false;   // reported once per Begin
  std::string failure_;         // not taken yet
  std::string failingSince_;    // why the writing fails, "" while it keeps up

  std::atomic<uint64_t> records_{0};
  std::atomic<uint64_t> bytes_{0};
  std::atomic<uint64_t> syncs_{0};
};
