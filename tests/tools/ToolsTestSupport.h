// Helpers shared by the simulator and command-line tests: waiting for a
// condition with a deadline, collecting decoded frames from a port, and
// running the built executables.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/TempDir.h"
#include "tests/common/WaitFor.h"
#include "data/SampleRecord.h"
#include "link/ConsultSession.h"
#include "link/FrameDecoder.h"
#include "link/StreamReceiver.h"
#include "tools/ecusim/EcuSimulator.h"

extern char** environ;

namespace tools_test {

using Clock = std::chrono::steady_clock;
// Deadlines only bound a failing test; passing tests never wait for them.
constexpr auto kDeadline = std::chrono::seconds(30);


inline std::vector<uint8_t> StreamRequest() {
  uint8_t request[100];
  int32_t length = 0;
  StreamReceiver::BuildStreamRequest(request, &length);
  return std::vector<uint8_t>(request, request + length);
}

// Reads the port and runs the program's decoder one byte at a time, so
// every frame it completes is seen, however slowly this thread runs.
class FrameCollector {
 public:
  explicit FrameCollector(ConsultSession& session) : session_(session) {}

  bool Collect(size_t count, Clock::duration deadline = kDeadline) {
    const Clock::time_point until = Clock::now() + deadline;
    while (frames.size() < count) {
      if (Clock::now() > until) return false;
      int32_t waiting = session_.WaitInput(5);
      if (waiting <= 0) continue;
      if (waiting > 1024) waiting = 1024;
      uint8_t buffer[1025];
      int32_t got = 0;
      (void)session_.Receive(buffer, waiting, &got);  // a failed read brings no bytes
      bytesRead += static_cast<size_t>(got);
      for (int32_t i = 0; i < got; ++i) {
        DecodeStream(decoder_, state_, &buffer[i], 1);
        if (state_.framesDecoded.load() != frames.size()) frames.push_back(state_.current.Load());
      }
    }
    return true;
  }

  std::vector<SampleRecord> frames;
  size_t bytesRead = 0;

 private:
  ConsultSession& session_;
  StreamDecoderState decoder_;
  RecorderState state_;
};

inline std::vector<SampleRecord> Records(const std::vector<SentFrame>& sent) {
  std::vector<SampleRecord> records;
  for (const SentFrame& f : sent) records.push_back(f.Record());
  return records;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<std::string> SplitLines(const std::string& text, const std::string& end = "\n") {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t at; (at = text.find(end, from)) != std::string::npos; from = at + end.size())
    lines.push_back(text.substr(from, at - from));
  if (from < text.size()) lines.push_back(text.substr(from));
  return lines;
}

// A child process with its standard output and error in files.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args, const TempDir& dir,
          const std::string& name)
      : outPath_(dir.Path(name + ".stdout")), errPath_(dir.Path(name + ".stderr")) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // The exit status, or -1 when the process did not end in time or died
  // of a signal.
  int Wait(Clock::duration deadline = std::chrono::seconds(60)) {
    if (pid_ <= 0) return -1;
    int status = 0;
    const bool ended = WaitFor(
        [&] {
          if (exited_) return true;
          const pid_t r = waitpid(pid_, &status, WNOHANG);
          if (r == pid_) {
            exited_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
          }
          return exited_;
        },
        deadline);
    return ended ? status_ : -1;
  }
  void Signal(int signal) const {
    if (pid_ > 0 && !exited_) kill(pid_, signal);
  }
  std::string Out() const { return ReadText(outPath_); }
  std::string Err() const { return ReadText(errPath_); }

 private:
  std::string outPath_;
  std::string errPath_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
};

// Runs a program to its end.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
inline RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const TempDir& dir, const std::string& name = "run") {
  Process process(program, args, dir, name);
  RunResult result;
  result.status = process.Wait();
  result.out = process.Out();
  result.err = process.Err();
  return result;
}

}  // namespace tools_test
