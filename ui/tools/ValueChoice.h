// What the Scatter and Table windows both ask: values of the display table
// chosen in combo boxes, and the stretch of the recording to take.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>

#include <cmath>
#include <vector>

#include "analysis/ValueGrids.h"
#include "control/RecordingModel.h"
#include "data/RecordPeriod.h"
#include "data/Registers.h"

// The box lists the columns (rows of kAllValueColumns) by caption, the
// chosen one selected; noneText, when given, comes first as "no value".
inline void FillValueBox(QComboBox& box, const std::vector<int>& columns, int chosen,
                         const QString& noneText = {}) {
  if (!noneText.isEmpty()) box.addItem(noneText, -1);
  for (int c : columns) box.addItem(kAllValueColumns[static_cast<size_t>(c)].caption, c);
  box.setCurrentIndex(box.findData(chosen));
}

// The twelve of the main window, then those some ECUs have beyond them: a
// recording without one counts none of its records for it.
inline std::vector<int> AllValues() {
  std::vector<int> columns;
  for (int c = 0; c < kAllValueCount; ++c) columns.push_back(c);
  return columns;
}

inline int ChosenValue(const QComboBox& box) { return box.currentData().toInt(); }

// The stretch's choices call changed() when they change; its seconds are
// for when the whole recording is not asked for.
template <class Receiver>
void ConnectStretch(QCheckBox& whole, QDoubleSpinBox& from, QDoubleSpinBox& to, Receiver* receiver,
                    void (Receiver::*changed)()) {
  auto follow = [&from, &to](bool all) {
    from.setEnabled(!all);
    to.setEnabled(!all);
  };
  QObject::connect(&whole, &QCheckBox::toggled, &from, follow);
  follow(whole.isChecked());
  QObject::connect(&whole, &QCheckBox::toggled, receiver, changed);
  QObject::connect(&from, &QDoubleSpinBox::editingFinished, receiver, changed);
  QObject::connect(&to, &QDoubleSpinBox::editingFinished, receiver, changed);
}

// Undoes ConnectStretch's edits for a window going away: an edit that loses
// the focus as it is destroyed reports editingFinished to a half-destroyed
// window.
inline void DisconnectStretch(QDoubleSpinBox& from, QDoubleSpinBox& to, QObject* receiver) {
  from.disconnect(receiver);
  to.disconnect(receiver);
}

// A view over a growing live recording is counted again at most once a
// second; a new recording at once.
constexpr qint64 kLiveRecountMs = 1000;
inline bool RecountDue(const RecordingModel::Change& change, const QElapsedTimer& sinceCount) {
  return change.replaced || (change.appended && sinceCount.isValid() && sinceCount.elapsed() >= kLiveRecountMs);
}

// The whole recording, or from..to seconds of it (both included).
inline RecordStretch ChosenStretch(const QCheckBox& whole, const QDoubleSpinBox& from, const QDoubleSpinBox& to) {
  if (whole.isChecked()) return {};
  const auto first = static_cast<uint32_t>(std::lround(std::max(0.0, from.value()) * kRecordsPerSecond));
  const auto last = static_cast<uint32_t>(std::lround(std::max(0.0, to.value()) * kRecordsPerSecond));
  return {first, last >= first ? last - first + 1 : 0};
}
