#include "ui/main/WarningTone.h"

#include <QAudio>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace {

class SoundDeviceTone : public WarningTone {
 public:
  bool Available() override { return !QMediaDevices::audioOutputs().isEmpty(); }

  void Play(int volume) override {
    if (!effect_) {
      effect_ = std::make_unique<QSoundEffect>();
      effect_->setSource(QUrl("qrc:/torvane/sounds/warning.wav"));
    }
    // The slider is as the ear hears it; the effect takes a linear gain.
    effect_->setVolume(static_cast<float>(
        QAudio::convertVolume(volume / 100.0, QAudio::LogarithmicVolumeScale, QAudio::LinearVolumeScale)));
    effect_->play();
  }

 private:
  std::unique_ptr<QSoundEffect> effect_;
};

}  // namespace

std::unique_ptr<WarningTone> MakeSoundDeviceTone() { return std::make_unique<SoundDeviceTone>(); }
