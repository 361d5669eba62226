#include "ui/tools/FrameImage.h"

#include <QTransform>
#include <QVideoFrame>

#include <utility>

#include "video/FfmpegObjects.h"

namespace {

AVPixelFormat AvFormatOf(QVideoFrameFormat::PixelFormat format) {
  switch (format) {
    case QVideoFrameFormat::Format_YUV420P:
    case QVideoFrameFormat::Format_YV12: return AV_PIX_FMT_YUV420P;  // its chroma planes the other way round
    case QVideoFrameFormat::Format_YUV422P: return AV_PIX_FMT_YUV422P;
    case QVideoFrameFormat::Format_NV12: return AV_PIX_FMT_NV12;
    case QVideoFrameFormat::Format_NV21: return AV_PIX_FMT_NV21;
    case QVideoFrameFormat::Format_YUYV: return AV_PIX_FMT_YUYV422;
    case QVideoFrameFormat::Format_UYVY: return AV_PIX_FMT_UYVY422;
    case QVideoFrameFormat::Format_P010: return AV_PIX_FMT_P010LE;
    case QVideoFrameFormat::Format_P016: return AV_PIX_FMT_P016LE;
    case QVideoFrameFormat::Format_ARGB8888: return AV_PIX_FMT_ARGB;
    case QVideoFrameFormat::Format_XRGB8888: return AV_PIX_FMT_0RGB;
    case QVideoFrameFormat::Format_BGRA8888: return AV_PIX_FMT_BGRA;
    case QVideoFrameFormat::Format_BGRX8888: return AV_PIX_FMT_BGR0;
    case QVideoFrameFormat::Format_ABGR8888: return AV_PIX_FMT_ABGR;
    case QVideoFrameFormat::Format_XBGR8888: return AV_PIX_FMT_0BGR;
    case QVideoFrameFormat::Format_RGBA8888: return AV_PIX_FMT_RGBA;
    case QVideoFrameFormat::Format_RGBX8888: return AV_PIX_FMT_RGB0;
    default: return AV_PIX_FMT_NONE;
  }
}

AVColorSpace AvSpaceOf(QVideoFrameFormat::ColorSpace space) {
  switch (space) {
    case QVideoFrameFormat::ColorSpace_BT709: return AVCOL_SPC_BT709;
    case QVideoFrameFormat::ColorSpace_BT2020: return AVCOL_SPC_BT2020_NCL;
    default: return AVCOL_SPC_UNSPECIFIED;
  }
}

}  // namespace

void FrameImage::ScaleFreer::operator()(SwsContext* scale) const { sws_freeContext(scale); }

FrameImage::FrameImage() = default;
FrameImage::~FrameImage() = default;

QImage FrameImage::RgbaOf(const QVideoFrame& frame) {
  const QVideoFrameFormat format = frame.surfaceFormat();
  const AVPixelFormat source = AvFormatOf(format.pixelFormat());
  QImage image;
  if (source == AV_PIX_FMT_NONE) {
    // A format the player seldom gives: Qt's own conversion, upright already.
    return frame.toImage().convertToFormat(QImage::Format_RGBA8888);
  }
  QVideoFrame mapped(frame);
  if (!mapped.map(QVideoFrame::ReadOnly)) return {};
  const int width = mapped.width();
  const int height = mapped.height();
  const uint8_t* planes[4] = {};
  int strides[4] = {};
  for (int i = 0; i < mapped.planeCount() && i < 4; ++i) {
    planes[i] = mapped.bits(i);
    strides[i] = mapped.bytesPerLine(i);
  }
  if (format.pixelFormat() == QVideoFrameFormat::Format_YV12) {
    std::swap(planes[1], planes[2]);
    std::swap(strides[1], strides[2]);
  }
  scale_.reset(sws_getCachedContext(scale_.release(), width, height, source, width, height, AV_PIX_FMT_RGBA,
                                    SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (scale_ != nullptr) {
    const bool full = format.colorRange() == QVideoFrameFormat::ColorRange_Full;
    MatchColours(scale_.get(), AvSpaceOf(format.colorSpace()), full ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG, source);
    image = QImage(width, height, QImage::Format_RGBA8888);
    uint8_t* out[1] = {image.bits()};
    const int outStrides[1] = {static_cast<int>(image.bytesPerLine())};
    sws_scale(scale_.get(), planes, strides, 0, height, out, outStrides);
  }
  mapped.unmap();
  // A phone held upright stores its pictures on their side and says how to
  // turn them.
  if (!image.isNull() && frame.rotationAngle() != QVideoFrame::Rotation0)
    image = image.transformed(QTransform().rotate(static_cast<int>(frame.rotationAngle())));
  if (!image.isNull() && frame.mirrored()) image = image.mirrored(true, false);
  return image;
}
