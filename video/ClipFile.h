// A user's video clip: what it is (ProbeClip), and its pictures one after
// another as RGBA (ClipReader), for the overlay writer, the Video window
// and the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "video/GaugeRender.h"

struct AVPacket;
struct AVStream;

struct ClipInfo {
  int width = 0;   // as the clip is shown: a phone's upright clip is higher than wide
  int height = 0;
  double frameRate = 0;      // frames a second; the average of a variable-rate clip
  double durationS = 0;
  int64_t frameCount = 0;    // the container's count, else an estimate from duration and rate
  bool hasAudio = false;
  int64_t creationUtcMs = 0; // the camera's "creation_time" (UTC); 0 when the clip does not say
};

// false with error saying why: "not a video file: ...", "no video stream in ...".
bool ProbeClip(const std::string& path, ClipInfo& info, std::string& error);

// "2024-03-05T14:30:15.250000Z" (a space for the T, no fraction, no zone
// or +hh:mm also) in ms since 1970; 0 for anything else. Containers keep
// UTC, so a time without a zone is taken as UTC.
int64_t UtcMsFromIsoText(const std::string& text);

// One picture of a clip, upright as a player shows it. Times count from
// the clip's first picture.
struct ClipFrame {
  std::vector<uint8_t> rgba;  // width x height, no padding
  int width = 0;
  int height = 0;
  int64_t pts = 0;            // in the video stream's time base
  double seconds = 0;
  Canvas canvas() { return {rgba.data(), width, height, width * 4}; }
};

class ClipReader {
 public:
  ClipReader();
  ~ClipReader();
  ClipReader(const ClipReader&) = delete;
  ClipReader& operator=(const ClipReader&) = delete;

  // false with error saying why, as ProbeClip.
  bool Open(const std::string& path, std::string& error);
  const ClipInfo& Info() const;
  // Back to the key frame at or before seconds: Next goes on from there,
  // so the caller skips the frames before the time it wants.
  bool Seek(double seconds, std::string& error);
  // The next picture in the order they are shown; false at the clip's end
  // (error empty) or when it cannot go on (error says why). A damaged
  // packet is skipped, as players do.
  bool Next(ClipFrame& frame, std::string& error);
  // Packets of the audio stream met on the way go to audioSink (the writer
  // copies them); false from it stops Next and ReadAudioUntil with its
  // error. Without a sink they are dropped.
  std::function<bool(AVPacket& packet, std::string& error)> audioSink;
  // Reads on, passing only audio, until an audio packet at or after
  // seconds (handed on too) or the end: the audio that the file stores
  // after the last picture wanted.
  bool ReadAudioUntil(double seconds, std::string& error);

  // For the writer: the streams it copies the timing and the audio from
  // (the audio one null when there is none), the clip time origin in the
  // video stream's time base, and how the pictures were turned.
  const AVStream* VideoStream() const;
  const AVStream* AudioStream() const;
  int64_t Origin() const;
  int QuarterTurns() const;  // clockwise, that made the stored pictures upright

 private:
  struct State;
  std::unique_ptr<State> state_;
};
