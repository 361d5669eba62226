// What the timing and power windows do with the recording at each refresh,
// the same for both: a tracker (RunTimer, PullTracker) follows a live
// recording one record at a time and keeps what it finds since the program
// started; over a loaded recording, everything in it is found afresh
// whenever the recording changes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>

#include "data/RecordSource.h"

template <class Tracker>
class LiveRefresh {
 public:
  // fresh makes the tracker that each new live recording starts with; the
  // first is given, as its figures may not be known yet.
  LiveRefresh(Tracker first, std::function<Tracker()> fresh)
      : fresh_(std::move(fresh)), tracker_(std::move(first)) {}

  struct Plan {
    bool followLive = false;     // feed the new records (Feed)
    bool listRecording = false;  // find everything in the recording again
    bool becameLive = false;     // what is listed turns from the recording's to the live results
  };

  // What the recording did: noted at every change, whether or not a
  // refresh follows (a hidden window works out nothing until it opens),
  // and taken by the next refresh.
  void Note(bool replaced, bool changed) {
    replaced_ = replaced_ || replaced;
    changed_ = changed_ || changed;
  }

  // liveMode: Start records the ECU; count: the records there are now.
  Plan Next(bool liveMode, uint32_t count) {
    const bool replaced = std::exchange(replaced_, false);
    const bool changed = std::exchange(changed_, false);
    Plan plan;
    const bool wasLive = !listingRecording_;
    if (liveMode) {
      if (replaced) {
        Restart();
        fed_ = 0;
      } else if (!wasLive) {
        // The ECU was opened over a loaded recording: that one is no live run.
        Restart();
        fed_ = count;
      }
      listingRecording_ = false;
      plan.followLive = true;
      plan.becameLive = !wasLive;
    } else if (changed || wasLive) {
      listingRecording_ = true;
      plan.listRecording = true;
    }
    return plan;
  }

  // Feeds the records not fed yet, in order; found() runs after each one
  // with which the tracker completed something (its Last... holds it).
  template <class Found>
  void Feed(const RecordSource& records, Found found) {
    records.Visit(fed_, records.Count() - std::min(fed_, records.Count()),
                  [&](uint32_t first, std::span<const SampleRecord> block) {
                    for (size_t i = 0; i < block.size(); ++i) {
                      fed_ = first + static_cast<uint32_t>(i) + 1;
                      if (tracker_.Add(first + static_cast<uint32_t>(i), block[i])) found(tracker_);
                    }
                  });
  }

  // New figures for the tracker: what goes on starts again with them.
  void Restart() { tracker_ = fresh_(); }
  Tracker& Current() { return tracker_; }
  const Tracker& Current() const { return tracker_; }
  bool ListingRecording() const { return listingRecording_; }

 private:
  std::function<Tracker()> fresh_;
  Tracker tracker_;
  uint32_t fed_ = 0;
  bool listingRecording_ = false;
  bool replaced_ = false;  // noted, not yet refreshed
  bool changed_ = false;
};
