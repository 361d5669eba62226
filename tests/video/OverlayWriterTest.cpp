// Clips written with the gauges, against clips made here: every picture
// with the gauges of its own moment, the timing and the sound kept, and no
// file at all unless the whole video is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/common/TempDir.h"
#include "tests/video/ClipMaker.h"
#include "tests/video/VideoTestSupport.h"
#include "video/ClipFile.h"
#include "video/OverlayWriter.h"

using namespace video_test;

namespace {

const std::vector<int> kColumns = {kRpm, kThrottle, kSpeed, kBoost};

class OverlayWriter : public ::testing::Test {
 protected:
  void MakeSource(const ClipPlan& plan) {
    std::string error;
    ASSERT_TRUE(MakeClip(clip, plan, error)) << error;
  }
  OverlayJob Job() const {
    OverlayJob job;
    job.clip = clip;
    job.out = out;
    job.columns = kColumns;
    return job;
  }

  TempDir dir;
  const std::string clip = dir.Path("clip.mp4");
  const std::string out = dir.Path("overlay.mp4");
};

TEST_F(OverlayWriter, EveryPictureGetsTheGaugesOfItsOwnMomentAndTheSoundStays) {
  ClipPlan plan;
  plan.width = 640;
  plan.height = 360;
  plan.seconds = 2.4;
  MakeSource(plan);
  // The recording began 0.37 s before the clip and ends at 1.5 s of it.
  const std::vector<SampleRecord> records = ChangingRecording(187);
  OverlayJob job = Job();
  job.offsetS = 0.37;
  std::vector<double> progress;
  std::string error;
  ASSERT_EQ(WriteOverlayVideo(job, RecordVector(records), [&](double f) { progress.push_back(f); return true; },
                              error),
            Result::kOk)
      << error;

  const Compared compared = CompareWithClip(clip, out, job, RecordVector(records));
  EXPECT_EQ(compared.pictures, 60);
  EXPECT_GT(compared.withValues, 30);
  EXPECT_GT(compared.withoutValues, 20);  // the gap, and past the recording's end

  ClipInfo source;
  ClipInfo written;
  ASSERT_TRUE(ProbeClip(clip, source, error));
  ASSERT_TRUE(ProbeClip(out, written, error)) << error;
  EXPECT_EQ(written.frameCount, source.frameCount);
  EXPECT_NEAR(written.durationS, source.durationS, 0.5 / plan.fps);
  EXPECT_TRUE(written.hasAudio);
  const AudioPackets sound = AudioPacketsOf(clip);
  const AudioPackets copied = AudioPacketsOf(out);
  EXPECT_GT(sound.count, 90);
  EXPECT_EQ(copied.count, sound.count);
  EXPECT_NEAR(copied.seconds, sound.seconds, 1e-6);

  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_DOUBLE_EQ(progress.back(), 1);
  EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"clip.mp4", "overlay.mp4"}));
}

TEST_F(OverlayWriter, AStretchStartsAtZeroWithItsOwnPicturesAndSound) {
  ClipPlan plan;
  plan.audioLateS = 0.8;
  MakeSource(plan);
  const std::vector<SampleRecord> records = ChangingRecording(300);
  OverlayJob job = Job();
  job.fromS = 0.6;
  job.toS = 1.6;
  std::string error;
  ASSERT_EQ(WriteOverlayVideo(job, RecordVector(records), nullptr, error), Result::kOk) << error;
  EXPECT_EQ(CompareWithClip(clip, out, job, RecordVector(records)).pictures, 25);
  ClipInfo written;
  ASSERT_TRUE(ProbeClip(out, written, error)) << error;
  EXPECT_NEAR(written.durationS, 1.0, 0.02);
  const AudioPackets stretch = AudioPacketsOf(clip, job.fromS, job.toS);
  EXPECT_EQ(AudioPacketsOf(out).count, stretch.count);

  // From beyond the clip's end there is nothing to write.
  job.fromS = 5;
  job.toS = -1;
  job.out = dir.Path("empty.mp4");
  EXPECT_EQ(WriteOverlayVideo(job, RecordVector(records), nullptr, error), Result::kFailed);
  EXPECT_EQ(error, "the clip has no pictures in the stretch asked for");
  EXPECT_FALSE(std::filesystem::exists(job.out));
}

TEST_F(OverlayWriter, AVariableRateClipKeepsEachPicturesTime) {
  ClipPlan plan;
  plan.framesMs = {0, 40, 100, 110, 200, 330, 340, 400, 520, 530, 700, 740, 990};
  plan.seconds = 1.0;
  MakeSource(plan);
  const std::vector<SampleRecord> records = ChangingRecording(150);
  OverlayJob job = Job();
  std::string error;
  ASSERT_EQ(WriteOverlayVideo(job, RecordVector(records), nullptr, error), Result::kOk) << error;
  EXPECT_EQ(CompareWithClip(clip, out, job, RecordVector(records)).pictures, 13);
}

TEST_F(OverlayWriter, ACamerasPcmSoundIsKeptInAContainerThatHoldsIt) {
  ClipPlan plan;
  plan.pcmSound = true;
  plan.seconds = 0.6;
  const std::string mov = dir.Path("camera.mov");
  std::string error;
  ASSERT_TRUE(MakeClip(mov, plan, error)) << error;
  const std::vector<SampleRecord> records = ChangingRecording(100);
  OverlayJob job = Job();
  job.clip = mov;
  ASSERT_EQ(WriteOverlayVideo(job, RecordVector(records), nullptr, error), Result::kOk) << error;
  EXPECT_EQ(CompareWithClip(mov, out, job, RecordVector(records)).pictures, 15);
  const AudioPackets sound = AudioPacketsOf(mov);
  EXPECT_GT(sound.count, 0);
  EXPECT_NEAR(AudioPacketsOf(out).seconds, sound.seconds, 1e-6);
}

TEST_F(OverlayWriter, APhonesClipStoredSidewaysIsWrittenUpright) {
  ClipPlan plan;
  plan.seconds = 0.4;
  plan.audio = false;
  plan.turnDegrees = 90;
  MakeSource(plan);
  std::string error;
  ClipReader reader;
  ASSERT_TRUE(reader.Open(clip, error)) << error;
  EXPECT_EQ(reader.Info().width, 240);
  EXPECT_EQ(reader.Info().height, 320);
  ClipFrame first;
  ASSERT_TRUE(reader.Next(first, error)) << error;
  ASSERT_EQ(first.width, 240);
  ASSERT_EQ(first.height, 320);
  // The bright square stored at the left edge a third of the way down
  // stands, turned a quarter clockwise, at the top two thirds across;
  // turned the other way or mirrored it would be elsewhere.
  // (The square is white; nothing else in the picture comes near it.)
  const auto white = [&](int left, int top) {
    double luma = 0;
    for (int y = top; y < top + 8; ++y)
      for (int x = left; x < left + 8; ++x) {
        const uint8_t* p = &first.rgba[static_cast<size_t>((y * first.width + x) * 4)];
        luma += 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
      }
    return luma / 64 > 235;
  };
  EXPECT_TRUE(white(155, 5));
  EXPECT_FALSE(white(76, 5));
  EXPECT_FALSE(white(76, 307));
  EXPECT_FALSE(white(155, 307));

  // Written upright, the gauges along the bottom as the clip is seen.
  const std::vector<SampleRecord> records = ChangingRecording(100);
  ASSERT_EQ(WriteOverlayVideo(Job(), RecordVector(records), nullptr, error), Result::kOk) << error;
  EXPECT_EQ(CompareWithClip(clip, out, Job(), RecordVector(records)).pictures, 10);
  ClipInfo written;
  ASSERT_TRUE(ProbeClip(out, written, error)) << error;
  EXPECT_EQ(written.width, 240);
  EXPECT_EQ(written.height, 320);
}

TEST_F(OverlayWriter, ACancelOrAFailureLeavesNoFileAndTheOldOneAsItWas) {
  MakeSource({});
  { std::ofstream(out) << "the user's earlier video"; }
  const std::vector<SampleRecord> records = ChangingRecording(100);
  std::string error;
  double reached = 0;
  const auto cancelHalfWay = [&](double f) {
    reached = f;
    return f < 0.5;
  };
  EXPECT_EQ(WriteOverlayVideo(Job(), RecordVector(records), cancelHalfWay, error), Result::kFailed);
  EXPECT_EQ(error, "cancelled");
  EXPECT_GE(reached, 0.5);
  EXPECT_LT(reached, 0.6);
  std::ifstream old(out);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "the user's earlier video");
  EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"clip.mp4", "overlay.mp4"}));
  std::filesystem::remove(out);

  // Not a video; a video without pictures; a stretch that ends before it
  // begins; a folder that is not there.
  const std::string text = dir.Path("notes.mp4");
  { std::ofstream(text) << "not a video at all\n"; }
  const std::string sound = dir.Path("sound.mp4");
  ClipPlan audioOnly;
  audioOnly.video = false;
  ASSERT_TRUE(MakeClip(sound, audioOnly, error)) << error;
  const auto fails = [&](OverlayJob job, const std::string& start) {
    EXPECT_EQ(WriteOverlayVideo(job, RecordVector(records), nullptr, error), Result::kFailed);
    EXPECT_EQ(error.substr(0, start.size()), start) << error;
  };
  OverlayJob job = Job();
  job.clip = text;
  fails(job, "not a video file: " + text + " (");
  job.clip = sound;
  fails(job, "no video stream in " + sound);
  job = Job();
  job.fromS = 1;
  job.toS = 0.5;
  fails(job, "the stretch must start");
  job = Job();
  job.out = dir.Path("missing/overlay.mp4");
  fails(job, "cannot write " + job.out + ": No such file");
  job = Job();
  job.out = clip;
  fails(job, "the video would replace its own clip");
  EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"clip.mp4", "notes.mp4", "sound.mp4"}));
}

TEST(ProbeClip, ReadsTheClipAndTheCamerasClock) {
  TempDir dir;
  ClipPlan plan;
  plan.creationTime = "2024-03-05T14:30:15.000000Z";
  std::string error;
  ASSERT_TRUE(MakeClip(dir.Path("a.mp4"), plan, error)) << error;
  ClipInfo info;
  ASSERT_TRUE(ProbeClip(dir.Path("a.mp4"), info, error)) << error;
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 240);
  EXPECT_DOUBLE_EQ(info.frameRate, 25);
  EXPECT_NEAR(info.durationS, 2, 0.02);
  EXPECT_EQ(info.frameCount, 50);
  EXPECT_TRUE(info.hasAudio);
  EXPECT_EQ(info.creationUtcMs, 1709649015000);

  plan.creationTime.clear();
  plan.audio = false;
  ASSERT_TRUE(MakeClip(dir.Path("b.mp4"), plan, error)) << error;
  ASSERT_TRUE(ProbeClip(dir.Path("b.mp4"), info, error)) << error;
  EXPECT_EQ(info.creationUtcMs, 0);
  EXPECT_FALSE(info.hasAudio);

  EXPECT_FALSE(ProbeClip(dir.Path("none.mp4"), info, error));
  EXPECT_EQ(error, "not a video file: " + dir.Path("none.mp4") + " (No such file or directory)");

  // The forms cameras write the time in.
  EXPECT_EQ(UtcMsFromIsoText("2024-03-05T14:30:15.250000Z"), 1709649015250);
  EXPECT_EQ(UtcMsFromIsoText("2024-03-05 14:30:15"), 1709649015000);
  EXPECT_EQ(UtcMsFromIsoText("2024-03-05T16:30:15+02:00"), 1709649015000);
  EXPECT_EQ(UtcMsFromIsoText("2024-03-05T09:30:15-0500"), 1709649015000);
  for (const char* wrong : {"", "1904-01-01T00:00:00Z", "2024-02-30T10:00:00Z", "2024-03-05T14:30", "yesterday",
                            "2024-03-05T14:30:15Zjunk"})
    EXPECT_EQ(UtcMsFromIsoText(wrong), 0) << wrong;
}

}  // namespace
