#include <gtest/gtest.h>

#include "TestSupport.h"
#include "data/Recorder.h"

namespace {

struct RecorderFixture : ::testing::Test {
  RecorderState state;
  LogMemory memory;
  WakeFlag clockEnable{1};
  RecordingView view{&clockEnable};
  Recorder recorder{state, memory, clockEnable, &view};

  void SetUp() override { ASSERT_EQ(CreateLogMemory(memory), Result::kOk); }

  void FillRecords(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(StoreRecord(memory, PatternRecord(i), i), Result::kOk);
    state.recordCount = count;
  }
};

using Effects = std::vector<std::string>;

}  // namespace

TEST(TimeReadout, UnitsTruncate) {
  EXPECT_EQ(TimeReadout(5999, TimeUnit::Msec), "Time : 59990 [msec]");
  EXPECT_EQ(TimeReadout(5999, TimeUnit::Sec), "Time : 59 [sec]");
  EXPECT_EQ(TimeReadout(5999, TimeUnit::Min), "Time : 0 [min]");
  EXPECT_EQ(TimeReadout(6000, TimeUnit::Msec), "Time : 60000 [msec]");
  EXPECT_EQ(TimeReadout(6000, TimeUnit::Sec), "Time : 60 [sec]");
  EXPECT_EQ(TimeReadout(6000, TimeUnit::Min), "Time : 1 [min]");
  EXPECT_EQ(TimeReadout(900000, TimeUnit::Msec), "Time : 9000000 [msec]");
  EXPECT_EQ(TimeReadout(900000, TimeUnit::Sec), "Time : 9000 [sec]");
  EXPECT_EQ(TimeReadout(900000, TimeUnit::Min), "Time : 150 [min]");
}

TEST_F(RecorderFixture, LiveStepsStoreTheCurrentSampleAndCount) {
  state.liveMode = 1;
  for (uint32_t i = 0; i < 3; ++i) {
    state.current.Store(PatternRecord(100 + i));
    RecorderStep(recorder);
  }
  EXPECT_EQ(state.currentIndex.load(), 3);
  EXPECT_EQ(state.recordCount.load(), 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    SampleRecord record;
    ASSERT_EQ(FetchRecord(memory, record, i), Result::kOk);
    EXPECT_EQ(record, PatternRecord(100 + i));
  }
  EXPECT_EQ(view.Effects(), (Effects{"status:Time : 0 [msec]", "status:Time : 10 [msec]",
                                     "status:Time : 20 [msec]"}));
  EXPECT_EQ(clockEnable.load(), 1);
}

// A line that goes quiet: the last sample is recorded while it may still
// be the engine's, then gaps until a frame comes again.
TEST_F(RecorderFixture, ASampleNoFrameRenewsBecomesAGap) {
  state.liveMode = 1;
  state.current.Store(PatternRecord(7));
  state.framesDecoded = 1;
  for (int i = 0; i < kStaleRecords + 2; ++i) RecorderStep(recorder);
  state.current.Store(PatternRecord(8));
  state.framesDecoded = 2;
  RecorderStep(recorder);
  const auto recorded = [&](uint32_t i) {
    SampleRecord record;
    EXPECT_EQ(FetchRecord(memory, record, i), Result::kOk);
    return record;
  };
  EXPECT_EQ(recorded(kStaleRecords - 1), PatternRecord(7));
  EXPECT_TRUE(IsGap(recorded(kStaleRecords)));
  EXPECT_TRUE(IsGap(recorded(kStaleRecords + 1)));
  EXPECT_EQ(recorded(kStaleRecords + 2), PatternRecord(8));
}

TEST_F(RecorderFixture, ReadoutFollowsTheCheckedUnitsInOrder) {
  view.checkedUnits = {TimeUnit::Min, TimeUnit::Msec, TimeUnit::Sec};
  state.liveMode = 1;
  state.currentIndex = 6000;
  RecorderStep(recorder);
  EXPECT_EQ(view.Effects(), (Effects{"status:Time : 60000 [msec]", "status:Time : 60 [sec]",
                                     "status:Time : 1 [min]"}));
  view.checkedUnits = {TimeUnit::Sec};
  RecorderStep(recorder);
  EXPECT_EQ(view.LastStatusText(), "Time : 60 [sec]");
}

TEST_F(RecorderFixture, MemoryFullStopsAfterRecord900000) {
  state.liveMode = 1;
  state.currentIndex = 899999;
  RecorderStep(recorder);
  EXPECT_EQ(clockEnable.load(), 1);
  EXPECT_EQ(view.Effects().size(), 1u);

  state.current.Store(PatternRecord(7));
  RecorderStep(recorder);
  EXPECT_EQ(state.recordCount.load(), 900001u);
  EXPECT_EQ(state.currentIndex.load(), 900001);
  EXPECT_EQ(clockEnable.load(), 0);
  EXPECT_EQ(view.Effects(),
            (Effects{"status:Time : 8999990 [msec]", "status:Time : 9000000 [msec]", "stop",
                     "message:Log Memory max\n|Time Check",
                     "line:Log Memory max"}));
  SampleRecord record;
  ASSERT_EQ(FetchRecord(memory, record, 900000), Result::kOk);
  EXPECT_EQ(record, PatternRecord(7));
}

TEST_F(RecorderFixture, WithoutAWindowOnlyTheDataChange) {
  recorder.view = nullptr;
  state.liveMode = 1;
  state.currentIndex = 900000;
  state.current.Store(PatternRecord(1));
  RecorderStep(recorder);
  EXPECT_EQ(state.recordCount.load(), 900001u);
  EXPECT_EQ(clockEnable.load(), 0);

  state.liveMode = 0;
  state.recordCount = 2;
  state.currentIndex = 1;
  clockEnable = 1;
  RecorderStep(recorder);
  EXPECT_EQ(state.currentIndex.load(), 0);
  EXPECT_EQ(clockEnable.load(), 0);
  EXPECT_TRUE(view.Effects().empty());
}

TEST_F(RecorderFixture, LiveStepsAdvanceEvenWhenTheStoreFails) {
  LogMemory none;  // never created
  Recorder blind{state, none, clockEnable, nullptr};
  state.liveMode = 1;
  RecorderStep(blind);
  RecorderStep(blind);
  EXPECT_EQ(state.currentIndex.load(), 2);
  EXPECT_EQ(state.recordCount.load(), 2u);
}

TEST_F(RecorderFixture, PlaybackOfThreeRecordsRewindsAndStops) {
  FillRecords(3);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(clockEnable.load(), 1) << "tick " << i;
    RecorderStep(recorder);
    EXPECT_EQ(state.current.Load(), PatternRecord(i));
  }
  EXPECT_EQ(state.currentIndex.load(), 0);
  EXPECT_EQ(clockEnable.load(), 0);
  EXPECT_EQ(view.Effects(),
            (Effects{"status:Time : 0 [msec]", "position:0", "status:Time : 10 [msec]",
                     "position:1", "status:Time : 20 [msec]", "position:2", "stop"}));
}

TEST_F(RecorderFixture, PlaybackWithNoRecordsShowsRecordZeroAndStops) {
  state.current.Store(PatternRecord(42));
  RecorderStep(recorder);
  EXPECT_EQ(state.current.Load(), SampleRecord{});
  EXPECT_EQ(state.currentIndex.load(), 0);
  EXPECT_EQ(clockEnable.load(), 0);
}

TEST_F(RecorderFixture, PlaybackResumesWhereItStood) {
  FillRecords(10);
  state.currentIndex = 7;
  RecorderStep(recorder);
  EXPECT_EQ(state.current.Load(), PatternRecord(7));
  EXPECT_EQ(state.currentIndex.load(), 8);
  EXPECT_EQ(clockEnable.load(), 1);
}

TEST_F(RecorderFixture, DragSeeksWithoutAdvancing) {
  FillRecords(10);
  clockEnable = 0;  // the bar disables the clock while it is dragged
  state.drag = 1;
  for (int32_t position : {4, 9, 2}) {
    state.currentIndex = position;
    RecorderStep(recorder);
    EXPECT_EQ(state.current.Load(), PatternRecord(static_cast<uint32_t>(position)));
    EXPECT_EQ(state.currentIndex.load(), position);
  }
  EXPECT_EQ(view.Effects(), (Effects{"status:Time : 40 [msec]", "status:Time : 90 [msec]",
                                     "status:Time : 20 [msec]"}));
}

TEST_F(RecorderFixture, FailedFetchKeepsTheCurrentSample) {
  state.recordCount = 0xFFFFFFFF;
  state.currentIndex = 1677700;
  state.current.Store(PatternRecord(5));
  RecorderStep(recorder);
  EXPECT_EQ(state.current.Load(), PatternRecord(5));
  EXPECT_EQ(state.currentIndex.load(), 1677701);
}

TEST(ConfirmUnsavedResult, AsksOnlyWhenUnsaved) {
  RecorderState state;
  RecordingView view;
  EXPECT_FALSE(ConfirmUnsavedResult(state, view));
  EXPECT_TRUE(view.questions.empty());

  state.unsaved = 1;
  view.answerYes = true;
  EXPECT_FALSE(ConfirmUnsavedResult(state, view));
  view.answerYes = false;
  EXPECT_TRUE(ConfirmUnsavedResult(state, view));
  const std::string question = "This result has not been saved.\nDo you keep operating?|CHECK";
  EXPECT_EQ(view.questions, (std::vector<std::string>{question, question}));
}
