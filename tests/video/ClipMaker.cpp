#include "tests/video/ClipMaker.h"

#include <cmath>
#include <map>
#include <numbers>

#include "video/FfmpegObjects.h"

namespace {

constexpr int kSampleRate = 44100;

class Maker {
 public:
  Maker(const std::string& path, const ClipPlan& plan) : path_(path), plan_(plan) {}

  bool Make(std::string& error) {
    AVFormatContext* context = nullptr;
    if (!Check(avformat_alloc_output_context2(&context, nullptr, nullptr, path_.c_str()), "output", error))
      return false;
    output_.reset(context);
    if (!plan_.creationTime.empty()) av_dict_set(&output_->metadata, "creation_time", plan_.creationTime.c_str(), 0);
    if (plan_.video && !OpenVideo(error)) return false;
    if (plan_.audio && !OpenAudio(error)) return false;
    if (!Check(avio_open(&output_->pb, path_.c_str(), AVIO_FLAG_WRITE), "open", error) ||
        !Check(avformat_write_header(output_.get(), nullptr), "header", error))
      return false;

    const int frames = plan_.framesMs.empty() ? static_cast<int>(std::lround(plan_.seconds * plan_.fps))
                                              : static_cast<int>(plan_.framesMs.size());
    for (int i = 0; plan_.video && i < frames; ++i) {
      const double at = plan_.framesMs.empty() ? static_cast<double>(i) / plan_.fps : plan_.framesMs[i] / 1000.0;
      if (audio_ && !WriteAudioUntil(at, error)) return false;
      if (!WritePicture(i, error)) return false;
    }
    if (audio_ && !WriteAudioUntil(plan_.seconds, error)) return false;
    if ((audio_ && !Drain(audio_.get(), audioStream_, nullptr, error)) ||
        (video_ && !Drain(video_.get(), videoStream_, nullptr, error)) || !WriteLateAudio(1e9, error))
      return false;
    return Check(av_write_trailer(output_.get()), "trailer", error);
  }

 private:
  static bool Check(int code, const char* what, std::string& error) {
    if (code >= 0) return true;
    error = std::string(what) + ": " + FfmpegErrorText(code);
    return false;
  }

  bool OpenVideo(std::string& error) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    video_.reset(avcodec_alloc_context3(codec));
    video_->width = plan_.width;
    video_->height = plan_.height;
    video_->pix_fmt = AV_PIX_FMT_YUV420P;
    video_->time_base = plan_.framesMs.empty() ? AVRational{1, plan_.fps} : AVRational{1, 1000};
    video_->framerate = {plan_.fps, 1};
    video_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Dictionary options;
    av_dict_set(&options.entries, "preset", "veryfast", 0);  // B-frames: pictures come out of order
    av_dict_set(&options.entries, "crf", "18", 0);
    if (!Check(avcodec_open2(video_.get(), codec, &options.entries), "video encoder", error)) return false;
    videoStream_ = avformat_new_stream(output_.get(), nullptr);
    videoStream_->time_base = video_->time_base;
    if (plan_.turnDegrees != 0) {
      uint8_t* matrix = av_stream_new_side_data(videoStream_, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t));
      // FFmpeg's matrix turns counterclockwise; its setter is given the clockwise turn.
      av_display_rotation_set(reinterpret_cast<int32_t*>(matrix), plan_.turnDegrees);
    }
    frame_.reset(av_frame_alloc());
    frame_->format = video_->pix_fmt;
    frame_->width = plan_.width;
    frame_->height = plan_.height;
    return Check(avcodec_parameters_from_context(videoStream_->codecpar, video_.get()), "video stream", error) &&
           Check(av_frame_get_buffer(frame_.get(), 0), "video frame", error);
  }

  bool OpenAudio(std::string& error) {
    const AVCodec* codec = avcodec_find_encoder(plan_.pcmSound ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_AAC);
    audio_.reset(avcodec_alloc_context3(codec));
    audio_->sample_fmt = plan_.pcmSound ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
    audio_->sample_rate = kSampleRate;
    av_channel_layout_default(&audio_->ch_layout, 1);
    audio_->bit_rate = 64000;
    audio_->time_base = {1, kSampleRate};
    audio_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (!Check(avcodec_open2(audio_.get(), codec, nullptr), "audio encoder", error)) return false;
    audioStream_ = avformat_new_stream(output_.get(), nullptr);
    audioStream_->time_base = audio_->time_base;
    samples_.reset(av_frame_alloc());
    samples_->format = audio_->sample_fmt;
    samples_->nb_samples = audio_->frame_size > 0 ? audio_->frame_size : 1024;
    samples_->sample_rate = kSampleRate;
    av_channel_layout_copy(&samples_->ch_layout, &audio_->ch_layout);
    return Check(avcodec_parameters_from_context(audioStream_->codecpar, audio_.get()), "audio stream", error) &&
           Check(av_frame_get_buffer(samples_.get(), 0), "audio frame", error);
  }

  // A gradient that slides and a bright square that moves: every picture
  // differs from the one before.
  bool WritePicture(int i, std::string& error) {
    if (!Check(av_frame_make_writable(frame_.get()), "frame", error)) return false;
    AVFrame& f = *frame_;
    for (int y = 0; y < f.height; ++y)
      for (int x = 0; x < f.width; ++x) {
        const bool square = std::abs(x - (i * 7) % f.width) < 20 && std::abs(y - f.height / 3) < 20;
        f.data[0][y * f.linesize[0] + x] = static_cast<uint8_t>(square ? 235 : 40 + (x + y + 3 * i) % 160);
      }
    for (int y = 0; y < f.height / 2; ++y)
      for (int x = 0; x < f.width / 2; ++x) {
        f.data[1][y * f.linesize[1] + x] = static_cast<uint8_t>(128 + (x + i) % 40 - 20);
        f.data[2][y * f.linesize[2] + x] = static_cast<uint8_t>(128 + (y + 2 * i) % 40 - 20);
      }
    f.pts = plan_.framesMs.empty() ? i : plan_.framesMs[static_cast<size_t>(i)];
    // Each picture lasts until the next, the last one until the clip's end;
    // the container counts the last one's length in the clip's.
    const size_t next = static_cast<size_t>(i) + 1;
    durations_[f.pts] = plan_.framesMs.empty()       ? 1
                        : next < plan_.framesMs.size() ? plan_.framesMs[next] - f.pts
                                                       : std::lround(plan_.seconds * 1000) - f.pts;
    return Drain(video_.get(), videoStream_, frame_.get(), error);
  }

  bool WriteAudioUntil(double seconds, std::string& error) {
    while (static_cast<double>(samplesWritten_) / kSampleRate < seconds) {
      if (!Check(av_frame_make_writable(samples_.get()), "samples", error)) return false;
      for (int s = 0; s < samples_->nb_samples; ++s) {
        const double at = static_cast<double>(samplesWritten_ + s) / kSampleRate;
        const double tone = 0.3 * std::sin(2 * std::numbers::pi * 440 * at);
        if (plan_.pcmSound)
          reinterpret_cast<int16_t*>(samples_->data[0])[s] = static_cast<int16_t>(tone * 32767);
        else
          reinterpret_cast<float*>(samples_->data[0])[s] = static_cast<float>(tone);
      }
      samples_->pts = samplesWritten_;
      samplesWritten_ += samples_->nb_samples;
      if (!Drain(audio_.get(), audioStream_, samples_.get(), error)) return false;
    }
    return true;
  }

  bool Drain(AVCodecContext* encoder, AVStream* stream, AVFrame* frame, std::string& error) {
    if (!Check(avcodec_send_frame(encoder, frame), "encode", error)) return false;
    PacketPtr packet(av_packet_alloc());
    for (;;) {
      const int code = avcodec_receive_packet(encoder, packet.get());
      if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
      if (!Check(code, "encode", error)) return false;
      if (encoder == video_.get()) packet->duration = durations_[packet->pts];
      av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
      packet->stream_index = stream->index;
      if (plan_.audioLateS == 0) {
        if (!Check(av_interleaved_write_frame(output_.get(), packet.get()), "write", error)) return false;
      } else if (stream == audioStream_) {
        late_.emplace_back(av_packet_clone(packet.get()));
      } else {
        const double written = static_cast<double>(packet->dts) * av_q2d(stream->time_base);
        if (!Check(av_write_frame(output_.get(), packet.get()), "write", error) ||
            !WriteLateAudio(written - plan_.audioLateS, error))
          return false;
      }
    }
  }

  // The sound held back that plays up to a time, in the file now.
  bool WriteLateAudio(double until, std::string& error) {
    while (!late_.empty() &&
           static_cast<double>(late_.front()->pts) * av_q2d(audioStream_->time_base) <= until) {
      if (!Check(av_write_frame(output_.get(), late_.front().get()), "write", error)) return false;
      late_.erase(late_.begin());
    }
    return true;
  }

  const std::string& path_;
  const ClipPlan& plan_;
  OutputPtr output_;
  CodecPtr video_;
  CodecPtr audio_;
  AVStream* videoStream_ = nullptr;
  AVStream* audioStream_ = nullptr;
  FramePtr frame_;
  FramePtr samples_;
  int64_t samplesWritten_ = 0;
  std::map<int64_t, int64_t> durations_;  // of each picture, by its time
  std::vector<PacketPtr> late_;            // sound held back (audioLateS)
};

}  // namespace

bool MakeClip(const std::string& path, const ClipPlan& plan, std::string& error) {
  QuietFfmpegLog();
  Maker maker(path, plan);
  return maker.Make(error);
}

AudioPackets AudioPacketsOf(const std::string& path, double fromS, double toS) {
  AudioPackets packets;
  AVFormatContext* opened = nullptr;
  if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) return packets;
  InputPtr input(opened);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return packets;
  const int audio = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (audio < 0) return packets;
  const AVRational base = input->streams[audio]->time_base;
  PacketPtr packet(av_packet_alloc());
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const double at = static_cast<double>(packet->pts) * av_q2d(base);
    if (packet->stream_index == audio && (toS <= 0 || (at >= fromS && at < toS))) {
      ++packets.count;
      packets.seconds += static_cast<double>(packet->duration) * av_q2d(base);
    }
    av_packet_unref(packet.get());
  }
  return packets;
}
