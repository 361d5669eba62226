#include "control/RecordingModel.h"

#include <algorithm>

RecordingModel::RecordingModel(Session& session)
    : session_(session), records_(session.Memory(), 0) {}

int RecordingModel::Subscribe(Listener listener) {
  subscribers_.push_back({nextId_, std::move(listener)});
  return nextId_++;
}

void RecordingModel::Unsubscribe(int id) {
  std::erase_if(subscribers_, [id](const Subscriber& s) { return s.id == id; });
}

bool RecordingModel::LiveNow() const {
  const ProgramInstances& instances = session_.Instances();
  return instances.recorderState.liveMode.load() == 1 && instances.recordingClock.enable.load() != 0;
}

RecordingModel::Change RecordingModel::Update() {
  const RecorderState& state = session_.Instances().recorderState;
  const bool liveNow = LiveNow();
  // The count before the index: the clock stores the index first, so a live
  // recording's count never runs ahead of the records it holds, also in the
  // moment a new one begins at record 0 with the old count still standing.
  uint32_t count = std::min<uint32_t>(state.recordCount.load(), static_cast<uint32_t>(kMaxRecordIndex) + 1);
  if (liveNow) count = std::min<uint32_t>(count, static_cast<uint32_t>(std::max(0, state.currentIndex.load())));

  Change change;
  change.liveChanged = liveNow != live_;
  // A live recording starts again at record 0; so does a loaded file.
  change.replaced = !everRead_ || session_.RecordingGeneration() != generation_ ||
                    (liveNow && !live_) || count < records_.Count();
  change.appended = !change.replaced && count > records_.Count();
  everRead_ = true;
  live_ = liveNow;
  generation_ = session_.RecordingGeneration();
  records_.SetCount(count);

  const int64_t position =
      count > 0 ? std::clamp<int64_t>(state.currentIndex.load(), 0, static_cast<int64_t>(count) - 1) : 0;
  change.positionMoved = !liveNow && position != position_;
  position_ = position;

  if (change.Any()) {
    // A listener may subscribe or leave while told: it is told from a copy.
    const std::vector<Subscriber> told = subscribers_;
    for (const Subscriber& s : told) s.listener(change);
  }
  return change;
}

void RecordingModel::Seek(int64_t index) {
  session_.Seek(index);
  Update();
}
