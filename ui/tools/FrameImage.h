// The player's frames as RGBA pictures, converted by FFmpeg as the overlay
// writer converts a clip's pictures (with the clip's own colour matrix and
// range), so that the Video window shows the colours the written video has.
//
// Not QVideoFrame::toImage: the first time it runs on a display it sets up a
// GPU path, which on some computers takes half a second. The GStreamer
// player waits a third of a second for each frame to be taken, and then
// stops the clip with "Internal data stream error".
#pragma once

#include <QImage>

#include <memory>

class QVideoFrame;
struct SwsContext;

class FrameImage {
 public:
  FrameImage();
  ~FrameImage();
  FrameImage(const FrameImage&) = delete;
  FrameImage& operator=(const FrameImage&) = delete;

  // Upright, as the clip is to be shown; null for a frame it cannot read.
  QImage RgbaOf(const QVideoFrame& frame);

 private:
  struct ScaleFreer {
    void operator()(SwsContext* scale) const;
  };
  // Kept from frame to frame: made again only when the frames change.
  std::unique_ptr<SwsContext, ScaleFreer> scale_;
};
