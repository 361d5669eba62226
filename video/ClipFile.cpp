#include "video/ClipFile.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string_view>

#include "data/Escape.h"
#include "video/FfmpegObjects.h"

namespace {

// Reads the fixed-width fields of an ISO 8601 time one after another.
class IsoReader {
 public:
  explicit IsoReader(std::string_view text) : rest_(text) {}
  bool Number(size_t digits, int& value) {
    if (rest_.size() < digits) return false;
    const auto result = std::from_chars(rest_.data(), rest_.data() + digits, value);
    if (result.ec != std::errc() || result.ptr != rest_.data() + digits) return false;
    rest_.remove_prefix(digits);
    return true;
  }
  bool Skip(char c) {
    if (rest_.empty() || rest_[0] != c) return false;
    rest_.remove_prefix(1);
    return true;
  }
  bool SkipEither(char a, char b) { return Skip(a) || Skip(b); }
  // Milliseconds of ".250000", or 0 without a fraction.
  int Fraction() {
    if (!Skip('.')) return 0;
    int ms = 0;
    int place = 100;
    while (!rest_.empty() && rest_[0] >= '0' && rest_[0] <= '9') {
      ms += (rest_[0] - '0') * place;
      place /= 10;
      rest_.remove_prefix(1);
    }
    return ms;
  }
  bool AtEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

double Seconds(int64_t ticks, AVRational base) { return static_cast<double>(ticks) * av_q2d(base); }

// A phone held upright stores its pictures sideways and says how to turn
// them: the quarter turns clockwise that show them as filmed.
int QuarterTurnsOf(const AVStream& video) {
  const uint8_t* matrix = av_stream_get_side_data(&video, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
  if (matrix == nullptr) return 0;
  const double clockwise = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (!std::isfinite(clockwise)) return 0;
  const long turns = std::lround(clockwise / 90) % 4;
  return static_cast<int>(turns < 0 ? turns + 4 : turns);
}

// RGBA pixels of a width x height picture turned clockwise.
void Turn(const std::vector<uint8_t>& from, int width, int height, int quarterTurns, std::vector<uint8_t>& to) {
  to.resize(from.size());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      size_t at = 0;  // the pixel's place in the turned picture
      if (quarterTurns == 1) at = static_cast<size_t>(x) * height + (height - 1 - y);
      else if (quarterTurns == 2) at = static_cast<size_t>(height - 1 - y) * width + (width - 1 - x);
      else at = static_cast<size_t>(width - 1 - x) * height + y;
      std::memcpy(&to[at * 4], &from[(static_cast<size_t>(y) * width + x) * 4], 4);
    }
}

int64_t CreationTime(const AVFormatContext& input, const AVStream& video) {
  const AVDictionaryEntry* entry = av_dict_get(input.metadata, "creation_time", nullptr, 0);
  if (entry == nullptr) entry = av_dict_get(video.metadata, "creation_time", nullptr, 0);
  return entry != nullptr ? UtcMsFromIsoText(entry->value) : 0;
}

ClipInfo InfoOf(const AVFormatContext& input, const AVStream& video, bool hasAudio) {
  ClipInfo info;
  const bool sideways = QuarterTurnsOf(video) % 2 == 1;
  info.width = sideways ? video.codecpar->height : video.codecpar->width;
  info.height = sideways ? video.codecpar->width : video.codecpar->height;
  const AVRational rate = video.avg_frame_rate.num > 0 ? video.avg_frame_rate : video.r_frame_rate;
  info.frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
  if (video.duration != AV_NOPTS_VALUE && video.duration > 0)
    info.durationS = Seconds(video.duration, video.time_base);
  else if (input.duration != AV_NOPTS_VALUE && input.duration > 0)
    info.durationS = static_cast<double>(input.duration) / AV_TIME_BASE;
  info.frameCount = video.nb_frames > 0 ? video.nb_frames : std::llround(info.durationS * info.frameRate);
  info.hasAudio = hasAudio;
  info.creationUtcMs = CreationTime(input, video);
  return info;
}

// The clip's picture: the first video stream that is not a cover image.
int VideoStreamOf(const AVFormatContext& input) {
  for (unsigned i = 0; i < input.nb_streams; ++i) {
    const AVStream& stream = *input.streams[i];
    if (stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC))
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

int64_t UtcMsFromIsoText(const std::string& text) {
  IsoReader reader(text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!reader.Number(4, year) || !reader.Skip('-') || !reader.Number(2, month) || !reader.Skip('-') ||
      !reader.Number(2, day) || !reader.SkipEither('T', ' ') || !reader.Number(2, hour) || !reader.Skip(':') ||
      !reader.Number(2, minute) || !reader.Skip(':') || !reader.Number(2, second))
    return 0;
  const int ms = reader.Fraction();
  int zoneMinutes = 0;
  if (!reader.Skip('Z') && !reader.AtEnd()) {
    const bool ahead = reader.Skip('+');
    if (!ahead && !reader.Skip('-')) return 0;
    int zoneHours = 0, zoneMins = 0;
    if (!reader.Number(2, zoneHours)) return 0;
    reader.Skip(':');  // "+0200" as well as "+02:00"
    if (!reader.Number(2, zoneMins)) return 0;
    zoneMinutes = (ahead ? 1 : -1) * (zoneHours * 60 + zoneMins);
  }
  if (!reader.AtEnd()) return 0;
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                            std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok() || year < 1971 || hour > 23 || minute > 59 || second > 60) return 0;
  const auto when = sys_days{date} + hours{hour} + minutes{minute - zoneMinutes} + seconds{second} + milliseconds{ms};
  return duration_cast<milliseconds>(when.time_since_epoch()).count();
}

bool ProbeClip(const std::string& path, ClipInfo& info, std::string& error) {
  ClipReader reader;
  if (!reader.Open(path, error)) return false;
  info = reader.Info();
  return true;
}

struct ClipReader::State {
  std::string path;
  InputPtr input;
  CodecPtr decoder;
  FramePtr decoded = FramePtr(av_frame_alloc());
  PacketPtr packet = PacketPtr(av_packet_alloc());
  ScalePtr scale;
  AVStream* video = nullptr;
  AVStream* audio = nullptr;
  int64_t origin = 0;
  int64_t lastPts = AV_NOPTS_VALUE;
  int quarterTurns = 0;
  std::vector<uint8_t> sideways;  // a picture as stored, before it is turned
  // What the conversion was made for: a clip may change size or colours
  // part way, and setting them anew rebuilds its tables.
  int scaledWidth = 0;
  int scaledHeight = 0;
  int scaledFormat = AV_PIX_FMT_NONE;
  AVColorSpace scaledSpace = AVCOL_SPC_UNSPECIFIED;
  AVColorRange scaledRange = AVCOL_RANGE_UNSPECIFIED;
  bool draining = false;
  ClipInfo info;

  std::string Why(const std::string& what, int code) const {
    return what + " " + Escaped(path) + ": " + FfmpegErrorText(code);
  }
  // Hands an audio packet on; true when it was no audio or was taken.
  bool PassAudio(const std::function<bool(AVPacket&, std::string&)>& sink, std::string& error) {
    if (audio == nullptr || packet->stream_index != audio->index || !sink) return true;
    return sink(*packet, error);
  }
  bool Convert(ClipFrame& frame, std::string& error);
};

ClipReader::ClipReader() : state_(std::make_unique<State>()) { QuietFfmpegLog(); }
ClipReader::~ClipReader() = default;

bool ClipReader::Open(const std::string& path, std::string& error) {
  State& s = *state_;
  s.path = path;
  if (s.decoded == nullptr || s.packet == nullptr) {
    error = "out of memory";
    return false;
  }
  AVFormatContext* opened = nullptr;
  int code = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
  if (code < 0) {
    error = "not a video file: " + Escaped(path) + " (" + FfmpegErrorText(code) + ")";
    return false;
  }
  s.input.reset(opened);
  code = avformat_find_stream_info(s.input.get(), nullptr);
  if (code < 0) {
    error = "not a video file: " + Escaped(path) + " (" + FfmpegErrorText(code) + ")";
    return false;
  }
  const int videoIndex = VideoStreamOf(*s.input);
  if (videoIndex < 0) {
    error = "no video stream in " + Escaped(path);
    return false;
  }
  s.video = s.input->streams[videoIndex];
  const int audioIndex = av_find_best_stream(s.input.get(), AVMEDIA_TYPE_AUDIO, -1, videoIndex, nullptr, 0);
  s.audio = audioIndex >= 0 ? s.input->streams[audioIndex] : nullptr;
  s.origin = s.video->start_time != AV_NOPTS_VALUE ? s.video->start_time : 0;
  s.quarterTurns = QuarterTurnsOf(*s.video);

  const AVCodec* codec = avcodec_find_decoder(s.video->codecpar->codec_id);
  if (codec == nullptr) {
    error = "no decoder for the video of " + Escaped(path) + " (" + avcodec_get_name(s.video->codecpar->codec_id) + ")";
    return false;
  }
  s.decoder.reset(avcodec_alloc_context3(codec));
  if (s.decoder == nullptr || (code = avcodec_parameters_to_context(s.decoder.get(), s.video->codecpar)) < 0) {
    error = s.Why("cannot decode", s.decoder == nullptr ? AVERROR(ENOMEM) : code);
    return false;
  }
  s.decoder->thread_count = 0;  // as many as the machine has
  s.decoder->pkt_timebase = s.video->time_base;
  if ((code = avcodec_open2(s.decoder.get(), codec, nullptr)) < 0) {
    error = s.Why("cannot decode", code);
    return false;
  }
  s.info = InfoOf(*s.input, *s.video, s.audio != nullptr);
  if (s.info.width <= 0 || s.info.height <= 0) {
    error = "no picture size in " + Escaped(path);
    return false;
  }
  return true;
}

const ClipInfo& ClipReader::Info() const { return state_->info; }
const AVStream* ClipReader::VideoStream() const { return state_->video; }
const AVStream* ClipReader::AudioStream() const { return state_->audio; }
int64_t ClipReader::Origin() const { return state_->origin; }
int ClipReader::QuarterTurns() const { return state_->quarterTurns; }

bool ClipReader::Seek(double seconds, std::string& error) {
  State& s = *state_;
  const int64_t target = s.origin + static_cast<int64_t>(std::floor(seconds / av_q2d(s.video->time_base)));
  const int code = av_seek_frame(s.input.get(), s.video->index, target, AVSEEK_FLAG_BACKWARD);
  if (code < 0) {
    error = s.Why("cannot seek in", code);
    return false;
  }
  avcodec_flush_buffers(s.decoder.get());
  s.draining = false;
  s.lastPts = AV_NOPTS_VALUE;
  return true;
}

bool ClipReader::Next(ClipFrame& frame, std::string& error) {
  State& s = *state_;
  error.clear();
  for (;;) {
    int code = avcodec_receive_frame(s.decoder.get(), s.decoded.get());
    if (code == 0) return s.Convert(frame, error);
    if (code == AVERROR_EOF) return false;
    if (code != AVERROR(EAGAIN)) {
      error = s.Why("cannot decode", code);
      return false;
    }
    if (s.draining) return false;  // a decoder that wants more after the end has no more to give
    code = av_read_frame(s.input.get(), s.packet.get());
    if (code == AVERROR_EOF) {
      s.draining = true;
      avcodec_send_packet(s.decoder.get(), nullptr);
      continue;
    }
    if (code < 0) {
      error = s.Why("cannot read", code);
      return false;
    }
    bool taken = true;
    if (s.packet->stream_index == s.video->index) {
      code = avcodec_send_packet(s.decoder.get(), s.packet.get());
      if (code < 0 && code != AVERROR_INVALIDDATA) {
        error = s.Why("cannot decode", code);
        taken = false;
      }
    } else {
      taken = s.PassAudio(audioSink, error);
    }
    av_packet_unref(s.packet.get());
    if (!taken) return false;
  }
}

bool ClipReader::ReadAudioUntil(double seconds, std::string& error) {
  State& s = *state_;
  error.clear();
  if (s.audio == nullptr || !audioSink) return true;
  const int64_t until = av_rescale_q(s.origin, s.video->time_base, s.audio->time_base) +
                        static_cast<int64_t>(std::ceil(seconds / av_q2d(s.audio->time_base)));
  for (;;) {
    const int code = av_read_frame(s.input.get(), s.packet.get());
    if (code == AVERROR_EOF) return true;
    if (code < 0) {
      error = s.Why("cannot read", code);
      return false;
    }
    const bool audio = s.packet->stream_index == s.audio->index;
    const int64_t time = s.packet->pts != AV_NOPTS_VALUE ? s.packet->pts : s.packet->dts;
    const bool taken = s.PassAudio(audioSink, error);
    av_packet_unref(s.packet.get());
    if (!taken) return false;
    if (audio && time != AV_NOPTS_VALUE && time >= until) return true;
  }
}

bool ClipReader::State::Convert(ClipFrame& frame, std::string& error) {
  AVFrame& picture = *decoded;
  int64_t pts = picture.best_effort_timestamp;
  // A frame without a time follows the one before by a frame's length.
  if (pts == AV_NOPTS_VALUE) {
    const AVRational rate = video->avg_frame_rate.num > 0 ? video->avg_frame_rate : AVRational{25, 1};
    pts = lastPts == AV_NOPTS_VALUE ? origin : lastPts + av_rescale_q(1, av_inv_q(rate), video->time_base);
  }
  lastPts = pts;
  frame.pts = pts - origin;
  frame.seconds = Seconds(frame.pts, video->time_base);
  std::vector<uint8_t>& rgba = quarterTurns == 0 ? frame.rgba : sideways;
  rgba.resize(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 4);

  const AVPixelFormat format = static_cast<AVPixelFormat>(picture.format);
  const bool unchanged = scale != nullptr && picture.width == scaledWidth && picture.height == scaledHeight &&
                        picture.format == scaledFormat;
  if (!unchanged) {
    scale.reset(sws_getContext(picture.width, picture.height, format, picture.width, picture.height,
                               AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (scale == nullptr) {
      const char* name = av_get_pix_fmt_name(format);
      error = "cannot convert the pictures of " + Escaped(path) + " (" + (name != nullptr ? name : "?") + ")";
      av_frame_unref(decoded.get());
      return false;
    }
    scaledWidth = picture.width;
    scaledHeight = picture.height;
    scaledFormat = picture.format;
  }
  if (!unchanged || picture.colorspace != scaledSpace || picture.color_range != scaledRange) {
    MatchColours(scale.get(), picture.colorspace, picture.color_range, format);
    scaledSpace = picture.colorspace;
    scaledRange = picture.color_range;
  }
  uint8_t* planes[1] = {rgba.data()};
  const int strides[1] = {picture.width * 4};
  sws_scale(scale.get(), picture.data, picture.linesize, 0, picture.height, planes, strides);
  const bool turnedOnItsSide = quarterTurns % 2 == 1;
  frame.width = turnedOnItsSide ? picture.height : picture.width;
  frame.height = turnedOnItsSide ? picture.width : picture.height;
  if (quarterTurns != 0) Turn(sideways, picture.width, picture.height, quarterTurns, frame.rgba);
  av_frame_unref(decoded.get());
  return true;
}
