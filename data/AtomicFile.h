// The one way this program saves a file the user already has: the settings,
// the log files and the CSV exports all go through it. The user's file is
// either the old one or the complete new one, never half of each.
//
//   AtomicFileWriter writer(fileName);
//   if (!writer.Open()) return failure;
//   fwrite(..., writer.Stream());
//   if (!writer.Commit()) return failure;
//
// The new content goes to a temporary file in the target's own folder, is
// flushed and fsync'ed, takes the old file's mode and is renamed over the
// target. A symbolic link is followed to the file it finally names, so the
// link stays a link. Where the folder takes no new file but the file itself
// is writable, the file is rewritten in place instead, which cannot be
// atomic. Plain POSIX and stdio: no Qt.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

class AtomicFileWriter {
 public:
  // Opens nothing yet.
  explicit AtomicFileWriter(std::string target);
  // Without a successful Commit: closes the stream, removes the temporary
  // file and leaves the target as it was.
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // False when there is no way to write the target: its folder is missing,
  // it names something other than a regular file, or neither a new file nor
  // the old one can be written. Call once.
  [[nodiscard]] bool Open();
  // Where the caller writes; null until Open succeeds and after Commit.
  FILE* Stream() const { return stream_; }
  // Flushes, fsyncs and puts the file in place. False on any failure,
  // including an earlier failed write to Stream(); the target is then the
  // old file (except after an in-place write) and no temporary is left.
  [[nodiscard]] bool Commit();

 private:
  void Discard();

  std::string target_;    // as the caller named it
  std::string baseName_;  // the final file's name inside its folder
  std::string tempName_;  // the temporary's name there; empty when writing in place
  int folder_ = -1;       // the final file's folder; every name is taken relative to it
  FILE* stream_ = nullptr;
  bool replacing_ = false;  // an old file exists; its mode and owner are kept
  mode_t oldMode_ = 0;
  uid_t oldOwner_ = 0;
  gid_t oldGroup_ = 0;
};
