// The recording in the log memory as the tool windows see it: one model for
// all of them, holding no copy of the records. It reads them from the log
// memory a block at a time (RecordSource), and tells its listeners when the
// recording was replaced, when it grew and when the playback position moved.
// Nothing pushes news to it: Update looks at the session and the recorder
// state, on the interface thread, whenever its owner asks (the tool windows'
// refresh pace).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "control/Session.h"
#include "data/LogRecords.h"

class RecordingModel final : public RecordSource {
 public:
  struct Change {
    bool replaced = false;       // another recording: a file loaded, a live one begun
    bool appended = false;       // records from the count before on are new
    bool positionMoved = false;  // the playback position is at another record
    bool liveChanged = false;    // a live recording began or stopped growing
    bool Any() const { return replaced || appended || positionMoved || liveChanged; }
  };
  using Listener = std::function<void(const Change&)>;

  explicit RecordingModel(Session& session);

  // Listeners are called by Update, in the order they subscribed.
  int Subscribe(Listener listener);
  void Unsubscribe(int id);

  // Looks at the recording now; tells the listeners when anything changed.
  Change Update();

  // RecordSource: the records the model has seen (as of the last Update).
  uint32_t Count() const override { return records_.Count(); }
  void Visit(uint32_t first, uint32_t count, const RecordVisitor& visit) const override {
    records_.Visit(first, count, visit);
  }

  // A live recording that grows: the clock stores a record every 10 ms.
  bool Live() const { return live_; }
  // Start records the ECU (rather than playing the recording back).
  bool LiveMode() const { return session_.LiveMode(); }
  // Whether the recorder state says a live recording grows, now.
  bool LiveNow() const;
  // The record playback stands at, inside the recording (as of the last Update).
  int64_t Position() const { return position_; }

  // Moves the playback position to index (kept inside the recording), as a
  // drag of the main window's bar would, and tells the listeners.
  void Seek(int64_t index);

 private:
  struct Subscriber {
    int id;
    Listener listener;
  };

  Session& session_;
  LogMemoryRecords records_;
  std::vector<Subscriber> subscribers_;
  int nextId_ = 1;
  bool everRead_ = false;
  bool live_ = false;
  uint64_t generation_ = 0;
  int64_t position_ = 0;
};
