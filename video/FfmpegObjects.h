// FFmpeg's objects, each freed by its owner on every path out: a clip that
// fails half-way through, or a cancel, leaks nothing. For the video code
// and its tests; the API headers of video/ keep FFmpeg out.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

struct InputCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;

// A file being written: its file closed with it.
struct OutputCloser {
  void operator()(AVFormatContext* context) const {
    if (!(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputCloser>;

struct CodecCloser {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;

struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;

struct ScaleFreer {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using ScalePtr = std::unique_ptr<SwsContext, ScaleFreer>;

// Options for an open call, which takes those it knows and leaves the rest.
struct Dictionary {
  AVDictionary* entries = nullptr;
  Dictionary() = default;
  Dictionary(const Dictionary&) = delete;
  Dictionary& operator=(const Dictionary&) = delete;
  ~Dictionary() { av_dict_free(&entries); }
};

// A conversion between a clip's YUV and RGBA with the clip's own colour
// matrix and range: the picture keeps its colours through the overlay, and
// the window sees them as a player would.
inline void MatchColours(SwsContext* scale, AVColorSpace space, AVColorRange range, AVPixelFormat format) {
  int matrix = SWS_CS_DEFAULT;
  switch (space) {
    case AVCOL_SPC_BT709: matrix = SWS_CS_ITU709; break;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: matrix = SWS_CS_BT2020; break;
    case AVCOL_SPC_SMPTE240M: matrix = SWS_CS_SMPTE240M; break;
    case AVCOL_SPC_FCC: matrix = SWS_CS_FCC; break;
    default: break;
  }
  // The "J" formats are full range whatever the frame says.
  const bool full = range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                    format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
  const int* coefficients = sws_getCoefficients(matrix);
  sws_setColorspaceDetails(scale, coefficients, full ? 1 : 0, coefficients, full ? 1 : 0, 0, 1 << 16, 1 << 16);
}

// FFmpeg's own lines on standard error (an encoder's statistics, a
// damaged packet skipped) would bury the program's; every failure comes
// back with its reason instead.
inline void QuietFfmpegLog() { av_log_set_level(AV_LOG_FATAL); }

// What an FFmpeg error code means ("Invalid data found when processing
// input"), for a message that says why.
inline std::string FfmpegErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}
