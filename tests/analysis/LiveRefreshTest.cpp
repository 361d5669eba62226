// What the timing and power windows do at a refresh: follow a live
// recording record by record, or find everything in a loaded one.
#include <gtest/gtest.h>

#include <vector>

#include "analysis/LiveRefresh.h"

namespace {

// Counts what it was fed; "finds" every record whose index ends in 0.
struct Counter {
  std::vector<uint32_t> fed;
  bool Add(uint32_t index, const SampleRecord&) {
    fed.push_back(index);
    return index % 10 == 0;
  }
};

using Refresh = LiveRefresh<Counter>;

TEST(LiveRefresh, FeedsEachLiveRecordOnceAndStartsAgainWithANewRecording) {
  std::vector<SampleRecord> records(25);
  const RecordVector source(records);
  Refresh refresh(Counter{}, [] { return Counter{}; });
  refresh.Note(true, true);
  EXPECT_TRUE(refresh.Next(true, 25).followLive);
  std::vector<uint32_t> found;
  refresh.Feed(source, [&](const Counter& c) { found.push_back(c.fed.back()); });
  records.resize(31);
  refresh.Note(false, true);
  EXPECT_FALSE(refresh.Next(true, 31).becameLive);
  refresh.Feed(source, [&](const Counter& c) { found.push_back(c.fed.back()); });
  EXPECT_EQ(refresh.Current().fed.size(), 31u);  // each once, in order
  EXPECT_EQ(refresh.Current().fed.back(), 30u);
  EXPECT_EQ(found, (std::vector<uint32_t>{0, 10, 20, 30}));

  // A new live recording noted twice before the refresh (a window that
  // was hidden): the tracker still starts afresh at record 0.
  records.resize(5);
  refresh.Note(true, true);
  refresh.Note(false, true);
  EXPECT_TRUE(refresh.Next(true, 5).followLive);
  refresh.Feed(source, [](const Counter&) {});
  EXPECT_EQ(refresh.Current().fed, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
}

TEST(LiveRefresh, ALoadedRecordingIsListedAndIsNoLiveRun) {
  std::vector<SampleRecord> records(40);
  const RecordVector source(records);
  Refresh refresh(Counter{}, [] { return Counter{}; });
  // Playback: listed once when it came, and again only when it changes.
  refresh.Note(true, true);
  EXPECT_TRUE(refresh.Next(false, 40).listRecording);
  EXPECT_TRUE(refresh.ListingRecording());
  EXPECT_FALSE(refresh.Next(false, 40).listRecording);
  // The ECU opened over it: live from now on, the loaded records unfed.
  const Refresh::Plan plan = refresh.Next(true, 40);
  EXPECT_TRUE(plan.followLive);
  EXPECT_TRUE(plan.becameLive);
  EXPECT_FALSE(refresh.ListingRecording());
  records.resize(42);
  refresh.Feed(source, [](const Counter&) {});
  EXPECT_EQ(refresh.Current().fed, (std::vector<uint32_t>{40, 41}));
  // Back to a recording: listed again.
  EXPECT_TRUE(refresh.Next(false, 42).listRecording);
}

}  // namespace
