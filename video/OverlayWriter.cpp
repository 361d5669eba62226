#include "video/OverlayWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>
#include <utility>

#include "data/Escape.h"
#include "video/ClipFile.h"
#include "video/FfmpegObjects.h"
#include "video/GaugeRender.h"
#include "video/GaugeValues.h"

namespace {

constexpr int64_t kNoEnd = std::numeric_limits<int64_t>::max();

// The video as it is written: under a hidden name beside the target, put
// in the target's place only once complete and on disk, removed otherwise.
class TempOutput {
 public:
  explicit TempOutput(std::string target) : target_(std::move(target)) {}
  ~TempOutput() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  bool Create(std::string& error) {
    static std::atomic<unsigned> serial{0};
    const std::filesystem::path target(target_);
    int why = EEXIST;
    for (int attempt = 0; attempt < 100 && why == EEXIST; ++attempt) {
      const std::string name = "." + target.filename().string().substr(0, 200) + "." + std::to_string(getpid()) +
                               "-" + std::to_string(serial++) + ".tmp";
      const std::string path = (target.parent_path() / name).string();
      // O_EXCL: always a new file of our own; 0666 less the umask, as any
      // file the user makes.
      const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        close(fd);
        path_ = path;
        return true;
      }
      why = errno;
    }
    error = "cannot write " + Escaped(target_) + ": " + std::strerror(why);
    return false;
  }
  const std::string& Path() const { return path_; }
  bool Commit(std::string& error) {
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    bool done = fd >= 0 && fsync(fd) == 0;
    int why = errno;
    if (fd >= 0) close(fd);
    if (done && rename(path_.c_str(), target_.c_str()) != 0) {
      done = false;
      why = errno;
    }
    if (!done) {
      error = "cannot write " + Escaped(target_) + ": " + std::strerror(why);
      return false;
    }
    path_.clear();
    return true;
  }

 private:
  std::string target_;
  std::string path_;
};

int64_t Ticks(double seconds, AVRational base) { return std::llround(seconds / av_q2d(base)); }

class Overlay {
 public:
  Overlay(const OverlayJob& job, const RecordSource& records) : job_(job), records_(records), temp_(job.out) {}
  Result Run(const std::function<bool(double)>& progress, std::string& error);

 private:
  bool Check(std::string& error) const;
  bool OpenOutput(std::string& error);
  bool OpenEncoder(std::string& error);
  bool EncodePicture(ClipFrame& frame, std::string& error);
  bool Encode(const AVFrame* picture, std::string& error);
  bool WriteAudio(AVPacket& packet, std::string& error);
  bool Finish(std::string& error);
  std::string Why(const std::string& what, int code) const { return what + ": " + FfmpegErrorText(code); }

  const OverlayJob& job_;
  const RecordSource& records_;
  ClipReader reader_;
  TempOutput temp_;  // before the output, which is closed first
  OutputPtr output_;
  CodecPtr encoder_;
  FramePtr yuv_;
  PacketPtr encoded_;
  ScalePtr toYuv_;
  AVStream* videoOut_ = nullptr;
  AVStream* audioOut_ = nullptr;
  GaugeLayout layout_;
  // The stretch, in the video's and the audio's time bases.
  int64_t fromTicks_ = 0;
  int64_t toTicks_ = kNoEnd;
  int64_t audioFrom_ = 0;
  int64_t audioTo_ = kNoEnd;
  int64_t frameTicks_ = 0;  // a picture's length in the encoder's time base; 0 unknown
  int64_t lastPts_ = AV_NOPTS_VALUE;
  int64_t pictures_ = 0;
};

bool Overlay::Check(std::string& error) const {
  if (job_.columns.size() > static_cast<size_t>(kMaxGauges)) {
    error = "at most " + std::to_string(kMaxGauges) + " values go on a video";
    return false;
  }
  for (int column : job_.columns) {
    if (column < 0 || column >= kAllValueCount) {
      error = "no such value: " + std::to_string(column);
      return false;
    }
  }
  const bool toEnd = job_.toS < 0;
  if (!std::isfinite(job_.offsetS) || !(job_.fromS >= 0) || !std::isfinite(job_.fromS) ||
      (!toEnd && !(job_.toS > job_.fromS && std::isfinite(job_.toS)))) {
    error = "the stretch must start at 0 s or later and end after its start";
    return false;
  }
  if (job_.out.empty()) {
    error = "no output file given";
    return false;
  }
  std::error_code ignored;
  if (std::filesystem::equivalent(job_.clip, job_.out, ignored)) {
    error = "the video would replace its own clip: choose another output file";
    return false;
  }
  return true;
}

Result Overlay::Run(const std::function<bool(double)>& progress, std::string& error) {
  error.clear();
  if (!Check(error) || !reader_.Open(job_.clip, error) || !temp_.Create(error) || !OpenOutput(error))
    return Result::kFailed;
  if (job_.fromS > 0 && !reader_.Seek(job_.fromS, error)) return Result::kFailed;
  reader_.audioSink = [this](AVPacket& packet, std::string& why) { return WriteAudio(packet, why); };

  const double duration = reader_.Info().durationS;
  const double end = job_.toS >= 0 ? std::min(job_.toS, duration) : duration;
  ClipFrame frame;
  bool beforeEnd = false;  // stopped at the stretch's end, not the clip's
  while (reader_.Next(frame, error)) {
    if (frame.pts < fromTicks_) continue;
    if (frame.pts >= toTicks_) {
      beforeEnd = true;
      break;
    }
    if (!EncodePicture(frame, error)) return Result::kFailed;
    const double done = end > job_.fromS ? (frame.seconds - job_.fromS) / (end - job_.fromS) : 0;
    if (progress && !progress(std::clamp(done, 0.0, 1.0))) {
      error = "cancelled";
      return Result::kFailed;
    }
  }
  if (!error.empty()) return Result::kFailed;
  // The file may keep the stretch's last sound after its last picture.
  if (beforeEnd && !reader_.ReadAudioUntil(job_.toS, error)) return Result::kFailed;
  if (pictures_ == 0) {
    error = "the clip has no pictures in the stretch asked for";
    return Result::kFailed;
  }
  if (!Finish(error)) return Result::kFailed;
  // A cancel up to the last moment leaves no file.
  if (progress && !progress(1.0)) {
    error = "cancelled";
    return Result::kFailed;
  }
  return temp_.Commit(error) ? Result::kOk : Result::kFailed;
}

bool Overlay::OpenOutput(std::string& error) {
  const AVStream* audio = reader_.AudioStream();
  // mp4, or QuickTime's own where the clip's sound is one mp4 does not
  // hold (PCM, as some cameras record).
  const bool mp4Holds = audio == nullptr ||
                        avformat_query_codec(av_guess_format("mp4", nullptr, nullptr), audio->codecpar->codec_id,
                                             FF_COMPLIANCE_NORMAL) == 1;
  AVFormatContext* context = nullptr;
  int code = avformat_alloc_output_context2(&context, nullptr, mp4Holds ? "mp4" : "mov", temp_.Path().c_str());
  if (code < 0) {
    error = Why("cannot write " + Escaped(job_.out), code);
    return false;
  }
  output_.reset(context);
  if (!OpenEncoder(error)) return false;

  const AVStream& video = *reader_.VideoStream();
  videoOut_ = avformat_new_stream(output_.get(), nullptr);
  if (videoOut_ == nullptr || (code = avcodec_parameters_from_context(videoOut_->codecpar, encoder_.get())) < 0) {
    error = Why("cannot write " + Escaped(job_.out), videoOut_ == nullptr ? AVERROR(ENOMEM) : code);
    return false;
  }
  videoOut_->time_base = encoder_->time_base;
  videoOut_->avg_frame_rate = video.avg_frame_rate;
  if (audio != nullptr) {
    audioOut_ = avformat_new_stream(output_.get(), nullptr);
    if (audioOut_ == nullptr || (code = avcodec_parameters_copy(audioOut_->codecpar, audio->codecpar)) < 0) {
      error = Why("cannot write " + Escaped(job_.out), audioOut_ == nullptr ? AVERROR(ENOMEM) : code);
      return false;
    }
    audioOut_->codecpar->codec_tag = 0;  // the new container's own
    audioOut_->time_base = audio->time_base;
  }
  if ((code = avio_open(&output_->pb, temp_.Path().c_str(), AVIO_FLAG_WRITE)) < 0 ||
      (code = avformat_write_header(output_.get(), nullptr)) < 0) {
    error = Why("cannot write " + Escaped(job_.out), code);
    return false;
  }

  fromTicks_ = Ticks(job_.fromS, video.time_base);
  toTicks_ = job_.toS >= 0 ? Ticks(job_.toS, video.time_base) : kNoEnd;
  if (audio != nullptr) {
    // Shifted as the pictures are, so that sound and picture stay together.
    const int64_t origin = av_rescale_q(reader_.Origin(), video.time_base, audio->time_base);
    audioFrom_ = origin + Ticks(job_.fromS, audio->time_base);
    audioTo_ = job_.toS >= 0 ? origin + Ticks(job_.toS, audio->time_base) : kNoEnd;
  }
  return true;
}

bool Overlay::OpenEncoder(std::string& error) {
  const AVStream& video = *reader_.VideoStream();
  const ClipInfo& info = reader_.Info();
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  const bool h264 = codec != nullptr;
  if (!h264) codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr) {
    error = "this FFmpeg has neither an H.264 nor an MPEG-4 encoder";
    return false;
  }
  encoder_.reset(avcodec_alloc_context3(codec));
  yuv_.reset(av_frame_alloc());
  encoded_.reset(av_packet_alloc());
  if (encoder_ == nullptr || yuv_ == nullptr || encoded_ == nullptr) {
    error = "out of memory";
    return false;
  }
  AVCodecContext& encoder = *encoder_;
  // 4:2:0 wants even sizes: an odd last row or column is left out.
  encoder.width = info.width & ~1;
  encoder.height = info.height & ~1;
  encoder.pix_fmt = AV_PIX_FMT_YUV420P;
  // The clip's own time base keeps every picture's time, of a variable
  // rate clip too; MPEG-4 takes none finer than 1/65535 s.
  encoder.time_base = video.time_base;
  if (!h264 && encoder.time_base.den > 65535) encoder.time_base = {1, 60000};
  encoder.framerate = video.avg_frame_rate;
  // Pictures come upright: stored sideways, their pixels' shape turns too.
  const AVRational shape = video.codecpar->sample_aspect_ratio;
  const bool onItsSide = reader_.QuarterTurns() % 2 == 1;
  encoder.sample_aspect_ratio = onItsSide && shape.num > 0 ? AVRational{shape.den, shape.num} : shape;
  // The clip's colours, tagged as they were, and converted back with the
  // same matrix the reader used.
  const AVPixelFormat sourceFormat = static_cast<AVPixelFormat>(video.codecpar->format);
  const bool full = video.codecpar->color_range == AVCOL_RANGE_JPEG || sourceFormat == AV_PIX_FMT_YUVJ420P ||
                    sourceFormat == AV_PIX_FMT_YUVJ422P || sourceFormat == AV_PIX_FMT_YUVJ444P;
  encoder.color_range = full ? AVCOL_RANGE_JPEG : video.codecpar->color_range;
  encoder.colorspace = video.codecpar->color_space;
  encoder.color_primaries = video.codecpar->color_primaries;
  encoder.color_trc = video.codecpar->color_trc;
  encoder.thread_count = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (output_->oformat->flags & AVFMT_GLOBALHEADER) encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Dictionary options;
  if (h264) {
    // Faster than real time on two cores, and no visible loss at crf 20.
    av_dict_set(&options.entries, "preset", "veryfast", 0);
    av_dict_set(&options.entries, "crf", "20", 0);
  } else {
    const double rate = info.frameRate > 0 ? info.frameRate : 30;
    encoder.bit_rate = std::max<int64_t>(8'000'000, std::llround(0.3 * encoder.width * encoder.height * rate));
  }
  int code = avcodec_open2(encoder_.get(), codec, &options.entries);
  if (code < 0) {
    error = Why("cannot encode the video", code);
    return false;
  }
  if (video.avg_frame_rate.num > 0 && video.avg_frame_rate.den > 0)
    frameTicks_ = av_rescale_q(1, av_inv_q(video.avg_frame_rate), encoder.time_base);

  yuv_->format = encoder.pix_fmt;
  yuv_->width = encoder.width;
  yuv_->height = encoder.height;
  toYuv_.reset(sws_getContext(encoder.width, encoder.height, AV_PIX_FMT_RGBA, encoder.width, encoder.height,
                              AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if ((code = av_frame_get_buffer(yuv_.get(), 0)) < 0 || toYuv_ == nullptr) {
    error = Why("cannot encode the video", toYuv_ == nullptr ? AVERROR(ENOMEM) : code);
    return false;
  }
  MatchColours(toYuv_.get(), encoder.colorspace, encoder.color_range, AV_PIX_FMT_YUV420P);
  layout_ = StripLayout(encoder.width, encoder.height, static_cast<int>(job_.columns.size()));
  return true;
}

bool Overlay::EncodePicture(ClipFrame& frame, std::string& error) {
  const AVCodecContext& encoder = *encoder_;
  if (frame.width < encoder.width || frame.height < encoder.height) {
    error = "the picture size of " + Escaped(job_.clip) + " changes part way through";
    return false;
  }
  const std::vector<Gauge> gauges = GaugesAt(records_, frame.seconds + job_.offsetS, job_.columns, job_.settings);
  Canvas canvas = frame.canvas();
  DrawGauges(canvas, layout_, gauges);

  int code = av_frame_make_writable(yuv_.get());  // the encoder may still hold the last one
  if (code < 0) {
    error = Why("cannot encode the video", code);
    return false;
  }
  const uint8_t* planes[1] = {frame.rgba.data()};
  const int strides[1] = {frame.width * 4};
  sws_scale(toYuv_.get(), planes, strides, 0, encoder.height, yuv_->data, yuv_->linesize);
  int64_t pts = av_rescale_q(frame.pts - fromTicks_, reader_.VideoStream()->time_base, encoder.time_base);
  // A damaged clip may give two pictures one time; the encoder takes none twice.
  if (lastPts_ != AV_NOPTS_VALUE && pts <= lastPts_) pts = lastPts_ + 1;
  lastPts_ = pts;
  yuv_->pts = pts;
  ++pictures_;
  return Encode(yuv_.get(), error);
}

// One picture in, whatever packets the encoder has ready out; a null
// picture drains it.
bool Overlay::Encode(const AVFrame* picture, std::string& error) {
  int code = avcodec_send_frame(encoder_.get(), picture);
  if (code < 0) {
    error = Why("cannot encode the video", code);
    return false;
  }
  for (;;) {
    code = avcodec_receive_packet(encoder_.get(), encoded_.get());
    if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
    if (code < 0) {
      error = Why("cannot encode the video", code);
      return false;
    }
    // The last picture's length, which the file's duration counts.
    if (encoded_->duration == 0) encoded_->duration = frameTicks_;
    av_packet_rescale_ts(encoded_.get(), encoder_->time_base, videoOut_->time_base);
    encoded_->stream_index = videoOut_->index;
    code = av_interleaved_write_frame(output_.get(), encoded_.get());
    if (code < 0) {
      error = Why("cannot write " + Escaped(job_.out), code);
      return false;
    }
  }
}

bool Overlay::WriteAudio(AVPacket& packet, std::string& error) {
  if (audioOut_ == nullptr) return true;
  const int64_t time = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
  // A packet that does not say when it plays cannot be placed.
  if (time == AV_NOPTS_VALUE) return true;
  // From the clip's start every packet goes, the encoder's lead-in before
  // the first picture too; a stretch takes those within it.
  if ((job_.fromS > 0 && time < audioFrom_) || time >= audioTo_) return true;
  if (packet.pts != AV_NOPTS_VALUE) packet.pts -= audioFrom_;
  if (packet.dts != AV_NOPTS_VALUE) packet.dts -= audioFrom_;
  av_packet_rescale_ts(&packet, reader_.AudioStream()->time_base, audioOut_->time_base);
  packet.stream_index = audioOut_->index;
  packet.pos = -1;
  const int code = av_interleaved_write_frame(output_.get(), &packet);
  if (code < 0) {
    error = Why("cannot write " + Escaped(job_.out), code);
    return false;
  }
  return true;
}

bool Overlay::Finish(std::string& error) {
  if (!Encode(nullptr, error)) return false;
  int code = av_write_trailer(output_.get());
  if (code >= 0) code = avio_closep(&output_->pb);
  if (code < 0) {
    error = Why("cannot write " + Escaped(job_.out), code);
    return false;
  }
  return true;
}

}  // namespace

Result WriteOverlayVideo(const OverlayJob& job, const RecordSource& records,
                         const std::function<bool(double fraction)>& progress, std::string& error) {
  Overlay overlay(job, records);
  return overlay.Run(progress, error);
}
