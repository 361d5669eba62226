#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "TestSupport.h"
#include "data/Recorder.h"
#include "data/RecordingClock.h"

using namespace std::chrono_literals;

// Disabled, the thread sleeps and runs no tick at all; each enable is
// picked up and the ticks count from that moment (a tick is never due
// before enable + k x period), and a disable parks the thread again.
TEST(RecordingClock, TicksRunOnlyWhileEnabledAndCountFromTheEnable) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPeriod = 20ms;
  std::mutex lock;
  std::vector<Clock::time_point> calls;
  const auto callCount = [&] {
    std::lock_guard<std::mutex> guard(lock);
    return calls.size();
  };
  RecordingClock clock(kPeriod);
  clock.StartRecordingClock([&] {
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(Clock::now());
  });
  ASSERT_TRUE(WaitFor([&] { return clock.Parked(); }));
  EXPECT_EQ(clock.TickCount(), 0u);

  for (int run = 0; run < 2; ++run) {
    const size_t before = callCount();
    const Clock::time_point enabledAt = Clock::now();
    clock.enable = 1;
    ASSERT_TRUE(WaitFor([&] { return callCount() >= before + 3; })) << "run " << run;
    clock.enable = 0;
    ASSERT_TRUE(WaitFor([&] { return clock.Parked(); })) << "run " << run;
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(clock.TickCount(), calls.size()) << "parked: no tick under way";
    for (size_t k = 1; before + k <= calls.size(); ++k)
      EXPECT_GE(calls[before + k - 1], enabledAt + kPeriod * static_cast<int64_t>(k))
          << "run " << run << ", tick " << k;
  }
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
// behind by the stall for good. Time is counted from the first tick, which
// is due one period after the clock started.
TEST(RecordingClock, LateTicksAreCaughtUp) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPeriod = 2ms;
  std::atomic<bool> release{false};
  std::atomic<bool> stalled{false};
  std::atomic<Clock::rep> firstTick{0};
  const auto sinceFirstTick = [&] {
    return Clock::now() - Clock::time_point(Clock::duration(firstTick.load()));
  };
  RecordingClock clock(kPeriod);
  clock.enable = 1;
  clock.StartRecordingClock([&] {
    if (!stalled.load()) {
      firstTick.store(Clock::now().time_since_epoch().count());
      stalled.store(true);
      while (!release.load()) std::this_thread::yield();
    }
  });
  ASSERT_TRUE(WaitFor([&] { return stalled.load(); }));
  ASSERT_TRUE(WaitFor([&] { return sinceFirstTick() > 50 * kPeriod; }));
  release = true;
  EXPECT_TRUE(WaitFor([&] {
    const auto due = sinceFirstTick() / kPeriod + 1;
    return clock.TickCount() + 3 >= static_cast<uint64_t>(due);
  }));
  EXPECT_GE(clock.WorstLateness(), 40 * kPeriod) << "the stall shows as lateness";
}

TEST(RecordingClock, DestructionDoesNotWaitForALongPeriod) {
  // With an hour's period this test only ends if the thread is woken, both
  // while it is parked and while it waits for its first tick.
  for (const int32_t enabled : {0, 1}) {
    auto clock = std::make_unique<RecordingClock>(std::chrono::hours(1));
    clock->enable = enabled;
    clock->StartRecordingClock([] {});
    EXPECT_EQ(clock->Period(), std::chrono::hours(1));
    if (enabled == 0) {
      ASSERT_TRUE(WaitFor([&] { return clock->Parked(); }));
    }
    clock.reset();
  }
  RecordingClock neverStarted;
  EXPECT_EQ(neverStarted.Period(), 10ms);
}

// A whole recording, driven by the clock as the program drives it, ends by
// itself after 900,001 records with the memory-full effects in order.
TEST(FullRecording, StopsItselfWhenTheMemoryIsFull) {
  RecorderState state;
  LogMemory memory;
  ASSERT_EQ(CreateLogMemory(memory), Result::kOk);
  RecordingClock clock(1us);
  RecordingView view(&clock.enable);
  view.keepStatusTexts = false;
  Recorder recorder{state, memory, clock.enable, &view};

  state.liveMode = 1;
  state.current.Store(PatternRecord(77));
  clock.enable = 1;
  clock.StartRecordingClock([&] { RecorderStep(recorder); });
  ASSERT_TRUE(WaitFor([&] { return clock.enable.load() == 0; }, std::chrono::minutes(4)));
  // The step clears the flag before it makes its effects: wait for it to end.
  ASSERT_TRUE(WaitFor([&] { return clock.Parked(); }));

  EXPECT_EQ(state.recordCount.load(), 900001u);
  EXPECT_EQ(view.StatusTextCount(), 900001);
  EXPECT_EQ(view.LastStatusText(), "Time : 9000000 [msec]");
  EXPECT_EQ(view.Effects(),
            (std::vector<std::string>{"stop", "message:Log Memory max\n|Time Check",
                                      "line:Log Memory max"}));
  // The step that stopped the recording was the clock's last.
  EXPECT_EQ(clock.TickCount(), 900001u);
  EXPECT_EQ(state.recordCount.load(), 900001u);

  SampleRecord last;
  ASSERT_EQ(FetchRecord(memory, last, 900000), Result::kOk);
  EXPECT_TRUE(IsGap(last));  // no frame renewed the sample
}
