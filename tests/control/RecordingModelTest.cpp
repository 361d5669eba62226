// The one recording model of the tool windows: what it tells its listeners
// as a recording is loaded, grows live, starts again and is sought.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "control/ProgramObjects.h"
#include "control/RecordingModel.h"
#include "data/LogFile.h"
#include "tests/common/TempDir.h"

namespace {

SampleRecord Numbered(uint32_t i) {
  SampleRecord record;
  record[1] = static_cast<uint8_t>(i >> 8);
  record[2] = static_cast<uint8_t>(i);
  return record;
}

class RecordingModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A clock that never ticks: the test moves the recording itself.
    program = std::make_unique<ProgramObjects>(std::chrono::hours(1), ".MMF-model-test-");
    (void)program->session.Begin(nullptr, folder.Path("recovered"));
    model = std::make_unique<RecordingModel>(program->session);
    model->Subscribe([this](const RecordingModel::Change& change) { told.push_back(change); });
  }
  void TearDown() override {
    model.reset();
    program->session.MarkRecording(false);
  }
  void Store(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i)
      ASSERT_EQ(StoreRecord(program->logMemory, Numbered(i), i), Result::kOk);
  }
  // The clock's step leaves the index before the count.
  void Recorded(uint32_t count) {
    program->recorderState.currentIndex = static_cast<int32_t>(count);
    program->recorderState.recordCount = count;
  }

  TempDir folder;
  std::unique_ptr<ProgramObjects> program;
  std::unique_ptr<RecordingModel> model;
  std::vector<RecordingModel::Change> told;
};

TEST_F(RecordingModelTest, ALoadedRecordingIsReadThroughAndSought) {
  EXPECT_TRUE(model->Update().replaced);  // the first look sees a recording, if empty
  Store(0, 3000);
  Recorded(3000);
  const std::string file = folder.Path("drive.eld");
  ASSERT_EQ(SaveLogFile(file, program->recorderState, program->logMemory), Result::kOk);
  ASSERT_TRUE(program->session.Load(file).done);
  told.clear();
  const RecordingModel::Change loaded = model->Update();
  EXPECT_TRUE(loaded.replaced);
  EXPECT_FALSE(loaded.appended);
  EXPECT_EQ(model->Count(), 3000u);
  EXPECT_EQ(model->At(2999), Numbered(2999));
  EXPECT_EQ(model->At(3000), SampleRecord{});  // beyond the recording
  // Visited in blocks, in order, without gaps.
  uint32_t next = 10;
  model->Visit(10, 10000, [&](uint32_t first, std::span<const SampleRecord> block) {
    EXPECT_EQ(first, next);
    for (size_t i = 0; i < block.size(); ++i) EXPECT_EQ(block[i], Numbered(first + static_cast<uint32_t>(i)));
    next = first + static_cast<uint32_t>(block.size());
  });
  EXPECT_EQ(next, 3000u);

  EXPECT_FALSE(model->Update().Any());  // nothing new: nobody is told
  EXPECT_EQ(told.size(), 1u);
  model->Seek(1234);
  ASSERT_EQ(told.size(), 2u);
  EXPECT_TRUE(told.back().positionMoved);
  EXPECT_EQ(model->Position(), 1234);
  EXPECT_EQ(program->recorderState.current.Load(), Numbered(1234));
}

TEST_F(RecordingModelTest, ALiveRecordingGrowsAndANewOneReplacesIt) {
  RecorderState& state = program->recorderState;
  (void)model->Update();
  state.liveMode = 1;
  program->recordingClock.enable = 1;
  Store(0, 500);
  Recorded(500);
  RecordingModel::Change change = model->Update();
  EXPECT_TRUE(change.replaced);
  EXPECT_TRUE(change.liveChanged);
  EXPECT_TRUE(model->Live());
  Store(500, 700);
  Recorded(700);
  change = model->Update();
  EXPECT_TRUE(change.appended);
  EXPECT_FALSE(change.replaced);
  EXPECT_FALSE(change.positionMoved);  // live, there is no playback position
  EXPECT_EQ(model->Count(), 700u);

  // Stopped, then started again at record 0: the old count still stands
  // until the first step, but the index says what the new one holds.
  program->recordingClock.enable = 0;
  EXPECT_TRUE(model->Update().liveChanged);
  EXPECT_FALSE(model->Live());
  state.currentIndex = 0;
  program->recordingClock.enable = 1;
  change = model->Update();
  EXPECT_TRUE(change.replaced);
  EXPECT_EQ(model->Count(), 0u);
  program->recordingClock.enable = 0;
  state.liveMode = 0;
}

}  // namespace
