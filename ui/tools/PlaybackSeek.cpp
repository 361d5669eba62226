#include "ui/tools/PlaybackSeek.h"

#include <QScrollBar>

#include <algorithm>

#include "ui/main/Consultmain.h"
#include "ui_Consultmain.h"

void SeekPlayback(TConsultMainForm& main, int64_t index) {
  QScrollBar* bar = main.Form()->PlayPositionBar;
  const int position =
      static_cast<int>(std::clamp<int64_t>(index, bar->minimum(), bar->maximum()));
  // A thumb drag: the tracking action, then the position change it causes.
  // With tracking on (the bar's default) this move is itself the drag's
  // tracking action.
  bar->setSliderPosition(position);
  if (!bar->hasTracking()) bar->triggerAction(QAbstractSlider::SliderMove);
  main.PlayPositionBarScroll(ScrollCode::EndScroll);
}
