#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"
#include "data/Recorder.h"
#include "data/RecordingClock.h"

using namespace std::chrono_literals;

TEST(RecordingClock, TicksRunOnlyWhileEnabled) {
  std::atomic<int> calls{0};
  RecordingClock clock(1ms);
  clock.StartRecordingClock([&] { calls.fetch_add(1); });
  ASSERT_TRUE(WaitFor([&] { return clock.TickCount() >= 5; }));
  EXPECT_EQ(calls.load(), 0);
  clock.enable = 1;
  EXPECT_TRUE(WaitFor([&] { return calls.load() >= 5; }));
  clock.enable = 0;
  const int settled = calls.load();
  const uint64_t ticks = clock.TickCount();
  ASSERT_TRUE(WaitFor([&] { return clock.TickCount() >= ticks + 5; }));
  EXPECT_LE(calls.load(), settled + 1) << "at most the tick already under way";
}

TEST(RecordingClock, TicksNeverOverlapAndASecondStartDoesNothing) {
  std::atomic<int> inside{0}, worst{0}, calls{0}, strays{0};
  RecordingClock clock(100us);
  clock.enable = 1;
  clock.StartRecordingClock([&] {
    const int now = inside.fetch_add(1) + 1;
    if (now > worst.load()) worst.store(now);
    calls.fetch_add(1);
    inside.fetch_sub(1);
  });
  clock.StartRecordingClock([&] { strays.fetch_add(1); });
  ASSERT_TRUE(WaitFor([&] { return calls.load() >= 200; }));
  EXPECT_EQ(worst.load(), 1);
  EXPECT_EQ(strays.load(), 0);
}

// A stalled tick must not stretch time: the ticks that fell due meanwhile
// are run as soon as it returns, so the count catches up with elapsed time
// over period. A clock that slept a period after each tick would stay
// behind by the stall for good.
TEST(RecordingClock, LateTicksAreCaughtUp) {
  constexpr auto kPeriod = 2ms;
  std::atomic<bool> release{false};
  std::atomic<bool> stalled{false};
  const auto start = std::chrono::steady_clock::now();
  RecordingClock clock(kPeriod);
  clock.enable = 1;
  clock.StartRecordingClock([&] {
    if (!stalled.exchange(true)) {
      while (!release.load()) std::this_thread::yield();
    }
  });
  ASSERT_TRUE(WaitFor([&] { return stalled.load(); }));
  ASSERT_TRUE(WaitFor([&] { return std::chrono::steady_clock::now() - start > 50 * kPeriod; }));
  release = true;
  EXPECT_TRUE(WaitFor([&] {
    const auto due = (std::chrono::steady_clock::now() - start) / kPeriod;
    return clock.TickCount() + 3 >= static_cast<uint64_t>(due);
  }));
  EXPECT_GE(clock.WorstLateness(), 40 * kPeriod) << "the stall shows as lateness";
}

TEST(RecordingClock, DestructionDoesNotWaitForALongPeriod) {
  // With an hour's period this test only ends if the thread is woken.
  auto clock = std::make_unique<RecordingClock>(std::chrono::hours(1));
  clock->StartRecordingClock([] {});
  EXPECT_EQ(clock->Period(), std::chrono::hours(1));
  clock.reset();
  RecordingClock neverStarted;
  EXPECT_EQ(neverStarted.Period(), 10ms);
}

// A whole recording, driven by the clock as the program drives it, ends by
// itself after 900,001 records with the memory-full effects in order.
TEST(FullRecording, StopsItselfWhenTheMemoryIsFull) {
  RecorderState state;
  LogMemory memory;
  ASSERT_FALSE(CreateLogMemory(memory));
  RecordingClock clock(1us);
  RecordingView view(&clock.enable);
  view.keepStatusTexts = false;
  Recorder recorder{state, memory, clock.enable, &view};

  state.liveMode = 1;
  state.current.Store(PatternRecord(77));
  clock.enable = 1;
  clock.StartRecordingClock([&] { RecorderStep(recorder); });
  ASSERT_TRUE(WaitFor([&] { return clock.enable.load() == 0; }, std::chrono::minutes(4)));

  EXPECT_EQ(state.recordCount.load(), 900001u);
  EXPECT_EQ(view.StatusTextCount(), 900001);
  EXPECT_EQ(view.LastStatusText(), "Time : 9000000 [msec]");
  EXPECT_EQ(view.Effects(),
            (std::vector<std::string>{"stop", "line:ECU Communication Stop",
                                      "message:Log Memory max\n|Time Check",
                                      "line:Log Memory max"}));
  // The clock goes on ticking, but nothing more is recorded.
  const uint64_t ticks = clock.TickCount();
  ASSERT_TRUE(WaitFor([&] { return clock.TickCount() > ticks + 100; }));
  EXPECT_EQ(state.recordCount.load(), 900001u);
  EXPECT_EQ(view.StatusTextCount(), 900001);

  SampleRecord last;
  ASSERT_FALSE(FetchRecord(memory, last, 900000));
  EXPECT_EQ(last, PatternRecord(77));
}
