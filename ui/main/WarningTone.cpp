#include "ui/main/WarningTone.h"

#include <QAudio>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QByteArray>
#include <QFile>
#include <QMediaDevices>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// The bundled tone: a PCM WAV file of 16-bit samples. Its format and its
// samples; an empty format when the file is not one.
struct Pcm {
  QAudioFormat format;
  QByteArray samples;
};

uint32_t Le(const QByteArray& bytes, qsizetype at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

Pcm ReadWav(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE") return {};
  Pcm pcm;
  bool pcm16 = false;
  for (qsizetype at = 12; at + 8 <= bytes.size();) {
    const QByteArray id = bytes.mid(at, 4);
    const qsizetype size = Le(bytes, at + 4, 4);
    const qsizetype body = at + 8;
    if (size > bytes.size() - body) return {};
    if (id == "fmt " && size >= 16) {
      pcm16 = Le(bytes, body, 2) == 1 && Le(bytes, body + 14, 2) == 16;
      pcm.format.setChannelCount(static_cast<int>(Le(bytes, body + 2, 2)));
      pcm.format.setSampleRate(static_cast<int>(Le(bytes, body + 4, 4)));
      pcm.format.setSampleFormat(QAudioFormat::Int16);
    } else if (id == "data") {
      pcm.samples = bytes.mid(body, size & ~qsizetype{1});
    }
    at = body + size + (size & 1);
  }
  if (!pcm16 || pcm.samples.isEmpty()) return {};
  return pcm;
}

// One output stream, opened at the first tone and kept: each tone is
// written to it, and a stream that failed (a device unplugged) is opened
// again at the next. QSoundEffect opens a stream for every tone; on
// PulseAudio its tones came and went, and during a playback none was heard
// at all, while a kept stream gave one every second.
class SoundDeviceTone : public WarningTone {
 public:
  bool Available() override { return !QMediaDevices::audioOutputs().isEmpty(); }

  void Play(int volume) override {
    if (pcm_.samples.isEmpty()) pcm_ = ReadWav(":/torvane/sounds/warning.wav");
    if (!pcm_.format.isValid()) return;
    if (!sink_ || sink_->state() == QAudio::StoppedState || sink_->error() != QAudio::NoError) {
      sink_.reset();
      sink_ = std::make_unique<QAudioSink>(QMediaDevices::defaultAudioOutput(), pcm_.format);
      output_ = sink_->start();
      if (output_ == nullptr) return;
    }
    // The volume is as the ear hears it; the samples take a linear gain.
    const double gain =
        QAudio::convertVolume(volume / 100.0, QAudio::LogarithmicVolumeScale, QAudio::LinearVolumeScale);
    QByteArray scaled(pcm_.samples.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i + 1 < scaled.size(); i += 2) {
      int16_t sample = 0;
      std::memcpy(&sample, pcm_.samples.constData() + i, 2);
      sample = static_cast<int16_t>(std::lround(sample * gain));
      std::memcpy(scaled.data() + i, &sample, 2);
    }
    output_->write(scaled);
  }

 private:
  Pcm pcm_;
  std::unique_ptr<QAudioSink> sink_;
  QIODevice* output_ = nullptr;  // owned by sink_
};

}  // namespace

std::unique_ptr<WarningTone> MakeSoundDeviceTone() { return std::make_unique<SoundDeviceTone>(); }
