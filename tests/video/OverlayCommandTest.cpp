// torvane-cli overlay run as the built executable: the offset by the
// clocks, its usage errors, and a stop that leaves no file.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "data/LogFile.h"
#include "tests/tools/ToolsTestSupport.h"
#include "tests/video/ClipMaker.h"
#include "tests/video/VideoTestSupport.h"

using namespace video_test;
using tools_test::Process;
using tools_test::RunProgram;

namespace {

class OverlayCommand : public ::testing::Test {
 protected:
  // A clip the camera began at 14:30:15 and a recording begun 0.37 s before.
  void SetUp() override {
    ClipPlan plan;
    plan.creationTime = "2024-03-05T14:30:15.000000Z";
    std::string error;
    ASSERT_TRUE(MakeClip(clip, plan, error)) << error;
    LogFileFacts facts;
    facts.startUtcMs = 1709649015000 - 370;
    ASSERT_EQ(WriteLogFile(log, RecordVector(records), facts, error), Result::kOk) << error;
  }

  TempDir dir;
  const std::string clip = dir.Path("clip.mp4");
  const std::string log = dir.Path("run.eld");
  const std::string out = dir.Path("overlay.mp4");
  const std::vector<SampleRecord> records = ChangingRecording(150);
};

TEST_F(OverlayCommand, PutsTheRecordingInStepByTheClocks) {
  const auto run = RunProgram(TORVANE_CLI, {"overlay", "--log", log, "--video", clip, "--out", out, "--values",
                                            "rpm,throttle,speed,boost"},
                              dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("offset 0.370 s, by the clocks: the clip began 2024-03-05T14:30:15.000Z, "
                         "the recording 2024-03-05T14:30:14.630Z\n"),
            std::string::npos)
      << run.err;
  // Then "NN %" as it goes, up to 100.
  std::vector<int> percents;
  for (const std::string& line : tools_test::SplitLines(run.err.substr(run.err.find('\n') + 1))) {
    ASSERT_EQ(line.substr(line.find(' ')), " %") << line;
    percents.push_back(std::stoi(line));
  }
  ASSERT_GT(percents.size(), 10u);
  EXPECT_EQ(percents.front(), 0);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(percents.back(), 100);
  OverlayJob job;
  job.offsetS = 0.37;
  job.columns = {kRpm, kThrottle, kSpeed, kBoost};
  EXPECT_EQ(CompareWithClip(clip, out, job, RecordVector(records)).pictures, 50);

  // Given, the offset is taken as it is, and so is the stretch.
  const auto given = RunProgram(TORVANE_CLI, {"overlay", "--log", log, "--video", clip, "--out", out, "--offset",
                                              "-0.25", "--from", "1.2", "--to", "1.6"},
                                dir);
  ASSERT_EQ(given.status, 0) << given.err;
  EXPECT_EQ(given.err.substr(0, 26), "offset -0.250 s, as given\n");
  job.offsetS = -0.25;
  job.fromS = 1.2;
  job.toS = 1.6;
  job.columns = {kRpm, kSpeed, kThrottle, kCoolant};
  EXPECT_EQ(CompareWithClip(clip, out, job, RecordVector(records)).pictures, 10);
}

TEST_F(OverlayCommand, WrongArgumentsAndFilesWriteNothing) {
  const std::vector<std::string> base = {"overlay", "--log", log, "--video", clip, "--out", out};
  const auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = base;
    args.insert(args.end(), more.begin(), more.end());
    return RunProgram(TORVANE_CLI, args, dir);
  };
  const auto wrongKey = with({"--values", "rpm,nope"});
  EXPECT_EQ(wrongKey.status, 2);
  EXPECT_NE(wrongKey.err.find("--values: no value has the key nope; the keys are rpm, maf, coolant,"),
            std::string::npos)
      << wrongKey.err;
  EXPECT_EQ(with({"--values", "rpm,maf,coolant,o2,speed,battery,throttle"}).status, 2);
  const auto backwards = with({"--from", "2", "--to", "1"});
  EXPECT_EQ(backwards.status, 2);
  EXPECT_NE(backwards.err.find("--to must be after --from"), std::string::npos) << backwards.err;
  const auto noVideo = RunProgram(TORVANE_CLI, {"overlay", "--log", log, "--out", out}, dir);
  EXPECT_EQ(noVideo.status, 2);
  EXPECT_NE(noVideo.err.find("overlay needs --video"), std::string::npos) << noVideo.err;

  const auto notVideo = RunProgram(TORVANE_CLI, {"overlay", "--log", log, "--video", log, "--out", out}, dir);
  EXPECT_EQ(notVideo.status, 1);
  EXPECT_NE(notVideo.err.find("torvane-cli: not a video file: " + log), std::string::npos) << notVideo.err;
  const auto noLog = RunProgram(TORVANE_CLI, {"overlay", "--log", clip, "--video", clip, "--out", out}, dir);
  EXPECT_EQ(noLog.status, 1);
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(OverlayCommand, AStopLeavesNoFile) {
  ClipPlan longer;
  longer.width = 640;
  longer.height = 360;
  longer.seconds = 6;
  std::string error;
  ASSERT_TRUE(MakeClip(clip, longer, error)) << error;
  Process overlay(TORVANE_CLI, {"overlay", "--log", log, "--video", clip, "--out", out}, dir, "overlay");
  // Stopped once it is under way; a stop any time before the file is in
  // place cancels it.
  ASSERT_TRUE(WaitFor([&] { return overlay.Err().find(" %\n") != std::string::npos; }));
  overlay.Signal(SIGINT);
  EXPECT_EQ(overlay.Wait(), 1);
  EXPECT_NE(overlay.Err().find("torvane-cli: stopped; " + out + " not written\n"), std::string::npos)
      << overlay.Err();
  EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"clip.mp4", "overlay.stderr", "overlay.stdout", "run.eld"}));
}

}  // namespace
