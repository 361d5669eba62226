// "Sound": the warning tone on or off, and its volume, with a Test button.
// Without a sound device the window says so; the warnings still show in
// red and in the status list. OK hands the settings to whoever applies
// them; Cancel leaves them as they were.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>

#include "analysis/WarningBell.h"

namespace Ui {
class SoundWindow;
}
class WarningTone;

class TSoundWindow : public QWidget {
  Q_OBJECT

 public:
  using Apply = std::function<void(const SoundSettings&)>;
  // tone: what plays the tone; null when the program has none.
  TSoundWindow(WarningTone* tone, Apply apply);
  ~TSoundWindow() override;

  Ui::SoundWindow* Form() const { return ui_.get(); }
  // Shows the window with these settings in its controls, and whether a
  // sound device is there now.
  void ShowWindow(const SoundSettings& settings);
  SoundSettings Chosen() const;

 public slots:
  void OkButtonClick();
  void CancelButtonClick();
  void TestButtonClick();
  void VolumeSliderChange();

 private:
  bool Available() const;

  std::unique_ptr<Ui::SoundWindow> ui_;
  WarningTone* tone_;
  Apply apply_;
};
