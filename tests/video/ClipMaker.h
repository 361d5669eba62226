// Short clips made for the video tests with FFmpeg's own encoders: a moving
// picture, a sine tone and the camera's creation time, as a phone would
// write them. The container follows the file name's extension.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ClipPlan {
  int width = 320;
  int height = 240;
  int fps = 25;
  double seconds = 2;
  bool video = true;
  bool audio = true;
  std::string creationTime = "2024-03-05T14:30:15.000000Z";  // empty: none
  std::vector<int> framesMs;  // given: a variable-rate clip with pictures at these times
  // The file keeps each stretch of sound this long after the pictures it
  // plays with, as cameras that write it in chunks do.
  double audioLateS = 0;
  // A player turns the pictures this far clockwise to show them, as a
  // phone held upright asks (90); they are stored as they came.
  int turnDegrees = 0;
  // 16-bit PCM sound rather than AAC, as some cameras write into .mov.
  bool pcmSound = false;
};

// false with error saying why.
bool MakeClip(const std::string& path, const ClipPlan& plan, std::string& error);

// The audio packets of a file (of those within [fromS, toS) of clip time
// when toS > 0): how many, and their summed length in seconds.
struct AudioPackets {
  int count = 0;
  double seconds = 0;
};
AudioPackets AudioPacketsOf(const std::string& path, double fromS = 0, double toS = -1);
