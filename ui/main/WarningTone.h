// The warning tone, through whatever plays it: the sound device in the
// program, a counter in the tests.
#pragma once

#include <memory>

class WarningTone {
 public:
  virtual ~WarningTone() = default;
  // Whether there is a device to play on; asked again each time, as one
  // may be plugged in while the program runs.
  virtual bool Available() = 0;
  // volume: 0..100, as the ear hears it.
  virtual void Play(int volume) = 0;
};

// The bundled tone on the default sound output (Qt Multimedia's audio
// sink). Nothing touches the sound system until it is first asked.
std::unique_ptr<WarningTone> MakeSoundDeviceTone();
