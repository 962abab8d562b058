#include "video/encode/ffmpeg/ffmpeg_writer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "video/encode/ffmpeg/av_ptr.h"
#include "video/encode/ffmpeg/fd_output.h"
#include "video/encode/ffmpeg/video_encoders.h"
#include "video/encode/pcm_queue.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/hwcontext.h>
#include <libavutil/opt.h>
}

namespace {

constexpr AVRational kHundredNs = {1, 10'000'000};

// The buffer behind a pooled picture: its free callback drops the writer's
// reference, which hands the sample back to its pool.
void release_pooled(void* opaque, uint8_t*) { sample_release(static_cast<MediaSample*>(opaque)); }

struct VideoTrack {
  VideoOutputType out;
  VideoInputType in;
  CodecSettings settings;
  bool input_set = false;
  EncoderChoice choice;
  AVPixelFormat sw_format = AV_PIX_FMT_NONE;
  AvCodecContextPtr ctx;
  AVStream* stream = nullptr;
  AvBufferPtr hw_device, hw_frames;
  AvFramePtr last;  // the last picture, re-sent by stream ticks
  int64_t last_pts = INT64_MIN;
  int64_t first_dts = AV_NOPTS_VALUE;  // of the first packet out of the encoder
  uint64_t bytes = 0;
};

struct AudioTrack {
  AudioOutputType out;
  bool input_set = false;
  AvCodecContextPtr ctx;
  AVStream* stream = nullptr;
  PcmQueue pcm;                  // waiting for a whole encoder frame
  std::vector<int16_t> scratch;  // one encoder frame, taken from pcm
  int64_t next_pts = 0;          // pts of the first frame in pcm, in samples
  bool started = false;
  bool aligned = false;  // the track's start is fixed; until then sound only gathers
  int64_t lead = 0;      // samples of silence ahead of time zero
  uint64_t bytes = 0;
};

class FfmpegWriter final : public MediaWriter {
 public:
  FfmpegWriter(AvOutputPtr oc, const WriterAttributes& attributes) : oc_(std::move(oc)), attrs_(attributes) {}

  MediaResult add_video_stream(const VideoOutputType& type, int32_t* index) override {
    if (began_ || video_) return AVERROR(EINVAL);
    AVStream* st = avformat_new_stream(oc_.get(), nullptr);
    if (!st) return AVERROR(ENOMEM);
    video_ = std::make_unique<VideoTrack>();
    video_->out = type;
    video_->stream = st;
    video_->choice = video_encoder_choice(type.codec, attrs_.hardware_transforms, attrs_.driver);
    *index = st->index;
    return 0;
  }

  MediaResult add_audio_stream(const AudioOutputType& type, int32_t* index) override {
    if (began_ || audio_) return AVERROR(EINVAL);
    if (type.num_channels == 0 || type.samples_per_second == 0) return AVERROR(EINVAL);
    AVStream* st = avformat_new_stream(oc_.get(), nullptr);
    if (!st) return AVERROR(ENOMEM);
    audio_ = std::make_unique<AudioTrack>();
    audio_->out = type;
    audio_->stream = st;
    *index = st->index;
    return 0;
  }

  MediaResult set_video_input(int32_t index, const VideoInputType& type) override {
    if (!is_video(index) || began_) return AVERROR(EINVAL);
    if (type.width != video_->out.width || type.height != video_->out.height) return AVERROR(EINVAL);
    const AVCodec* codec = avcodec_find_encoder_by_name(video_->choice.name);
    if (!codec) return AVERROR_ENCODER_NOT_FOUND;
    video_->in = type;
    video_->sw_format = encoder_pixel_format(video_->choice, type.subtype);
    video_->input_set = true;
    return 0;
  }

  MediaResult set_audio_input(int32_t index, const AudioInputType& type) override {
    if (!is_audio(index) || began_) return AVERROR(EINVAL);
    if (type.bits_per_sample != 16 || type.samples_per_second != audio_->out.samples_per_second ||
        type.num_channels != audio_->out.num_channels) {
      return AVERROR(EINVAL);
    }
    audio_->input_set = true;
    return 0;
  }

  bool set_codec_settings(int32_t index, const CodecSettings& settings) override {
    if (!is_video(index)) return false;
    video_->settings = settings;
    return true;
  }

  PixelLayout picture_layout(int32_t index) const override {
    return is_video(index) ? layout_of(video_->sw_format) : PIXEL_NONE;
  }

  MediaResult begin_writing() override {
    if (began_ || !video_ || !video_->input_set || (audio_ && !audio_->input_set)) return AVERROR(EINVAL);
    MediaResult r = open_video();
    if (r < 0) return r;
    if (audio_ && (r = open_audio()) < 0) return r;

    AVDictionary* options = nullptr;
    if (attrs_.container == CONTAINER_FMPEG4) {
      // A fragment at every key frame and at least every second: an
      // interrupted file plays up to its last complete fragment.
      av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
      av_dict_set(&options, "frag_duration", "1000000", 0);
      // Each finished fragment goes to the file at once instead of waiting
      // in the output buffer (32 KiB), where a crash would lose it.
      av_dict_set(&options, "flush_packets", "1", 0);
    }
    // Hold packets back for interleaving at most a second: whatever waits in
    // the muxer is lost if the process dies.
    oc_->max_interleave_delta = 1'000'000;
    // FLAC in MP4 is still marked experimental by the muxer.
    if (audio_ && audio_->out.codec == AUDIO_FLAC) oc_->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    r = avformat_write_header(oc_.get(), &options);
    av_dict_free(&options);
    if (r < 0) return r;
    began_ = true;
    return 0;
  }

  MediaResult write_sample(int32_t index, MediaSample* sample) override {
    if (!began_ || finalized_) return AVERROR(EINVAL);
    if (error_ < 0) return error_;
    if (is_video(index)) return write_picture(sample);
    if (is_audio(index)) return write_pcm(sample);
    return AVERROR(EINVAL);
  }

  MediaResult send_stream_tick(int32_t index, int64_t time) override {
    if (!began_ || finalized_ || !is_video(index)) return AVERROR(EINVAL);
    if (error_ < 0) return error_;
    if (!video_->last) return 0;  // nothing shown yet
    const int64_t pts = av_rescale_q(time, kHundredNs, video_->ctx->time_base);
    if (pts <= video_->last_pts) return 0;
    AvFramePtr frame(av_frame_clone(video_->last.get()));
    if (!frame) return AVERROR(ENOMEM);
    frame->pts = pts;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    video_->last_pts = pts;
    MediaResult r = fail_if(encode(video_->ctx.get(), video_->stream, frame.get(), &video_->bytes));
    return r < 0 ? r : start_audio_when_ready();
  }

  MediaResult get_statistics(int32_t index, uint64_t* bytes_processed) override {
    if (is_video(index)) { *bytes_processed = video_->bytes; return 0; }
    if (is_audio(index)) { *bytes_processed = audio_->bytes; return 0; }
    return AVERROR(EINVAL);
  }

  MediaResult finalize() override {
    if (!began_ || finalized_) return AVERROR(EINVAL);
    finalized_ = true;
    MediaResult r = error_;
    bool video_flushed = false;
    if (r >= 0 && audio_ && !audio_->aligned) {
      // The picture encoder has held back everything so far: its first
      // packet, which fixes where the sound starts, comes with the flush.
      r = encode(video_->ctx.get(), video_->stream, nullptr, &video_->bytes);
      video_flushed = true;
      if (r >= 0) align_audio();
    }
    if (r >= 0 && audio_) {
      // Sound held back until now goes in whole encoder frames, then the rest.
      r = encode_whole_audio_frames();
      if (r >= 0 && !audio_->pcm.empty()) r = encode_pcm(audio_->pcm.frames());
      if (r >= 0) r = encode(audio_->ctx.get(), audio_->stream, nullptr, &audio_->bytes);
    }
    if (r >= 0 && !video_flushed) r = encode(video_->ctx.get(), video_->stream, nullptr, &video_->bytes);
    video_->last.reset();
    if (r >= 0) r = av_write_trailer(oc_.get());
    if (r >= 0 && oc_->pb && oc_->pb->error < 0) r = oc_->pb->error;
    const int closed = fd_output_close(oc_.get());
    if (r >= 0 && closed < 0) r = closed;
    return r;
  }

 private:
  bool is_video(int32_t index) const { return video_ && video_->stream->index == index; }
  bool is_audio(int32_t index) const { return audio_ && audio_->stream->index == index; }

  MediaResult fail_if(MediaResult r) {
    if (r < 0 && error_ >= 0) error_ = r;
    return r;
  }

  MediaResult open_video() {
    VideoTrack& v = *video_;
    VideoEncoderSetup setup;
    setup.choice = v.choice;
    setup.out = v.out;
    setup.settings = v.settings;
    setup.input = v.in.subtype;
    setup.render_node = attrs_.render_node;
    setup.global_header = (oc_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
    OpenedVideoEncoder opened;
    int r = open_video_encoder(setup, &opened);
    if (r < 0) return r;
    v.ctx = std::move(opened.ctx);
    v.hw_device = std::move(opened.hw_device);
    v.hw_frames = std::move(opened.hw_frames);
    v.stream->time_base = v.ctx->time_base;
    v.stream->avg_frame_rate = v.ctx->framerate;
    return avcodec_parameters_from_context(v.stream->codecpar, v.ctx.get());
  }

  MediaResult open_audio() {
    AudioTrack& a = *audio_;
    const AVCodec* codec = avcodec_find_encoder(a.out.codec == AUDIO_FLAC ? AV_CODEC_ID_FLAC : AV_CODEC_ID_AAC);
    if (!codec) return AVERROR_ENCODER_NOT_FOUND;
    a.ctx.reset(avcodec_alloc_context3(codec));
    if (!a.ctx) return AVERROR(ENOMEM);
    AVCodecContext* c = a.ctx.get();
    c->sample_rate = static_cast<int>(a.out.samples_per_second);
    av_channel_layout_default(&c->ch_layout, static_cast<int>(a.out.num_channels));
    c->sample_fmt = a.out.codec == AUDIO_FLAC ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
    if (a.out.codec == AUDIO_AAC) c->bit_rate = static_cast<int64_t>(a.out.avg_bytes_per_second) * 8;
    c->time_base = {1, c->sample_rate};
    if (oc_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(c, codec, nullptr);
    if (r < 0) return r;
    a.stream->time_base = c->time_base;
    a.aligned = attrs_.container != CONTAINER_FMPEG4;
    return avcodec_parameters_from_context(a.stream->codecpar, c);
  }

  // Sends one frame (or the end, for a null frame) and writes every packet
  // the encoder has ready.
  MediaResult encode(AVCodecContext* ctx, AVStream* stream, AVFrame* frame, uint64_t* bytes) {
    int r = avcodec_send_frame(ctx, frame);
    if (r < 0 && r != AVERROR_EOF) return r;
    AvPacketPtr packet(av_packet_alloc());
    if (!packet) return AVERROR(ENOMEM);
    for (;;) {
      r = avcodec_receive_packet(ctx, packet.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
      if (r < 0) return r;
      if (video_ && stream == video_->stream && video_->first_dts == AV_NOPTS_VALUE) {
        video_->first_dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
      }
      av_packet_rescale_ts(packet.get(), ctx->time_base, stream->time_base);
      packet->stream_index = stream->index;
      *bytes += static_cast<uint64_t>(packet->size);
      r = av_interleaved_write_frame(oc_.get(), packet.get());
      if (r >= 0 && oc_->pb && oc_->pb->error < 0) r = oc_->pb->error;
      if (r < 0) return r;
    }
  }

  MediaResult write_picture(MediaSample* sample) {
    VideoTrack& v = *video_;
    if (!sample->data[0] || sample->width != v.out.width || sample->height != v.out.height ||
        layout_of(v.sw_format) != sample->layout) {
      return AVERROR(EINVAL);
    }
    AvFramePtr frame(av_frame_alloc());
    if (!frame) return AVERROR(ENOMEM);
    frame->format = v.sw_format;
    frame->width = static_cast<int>(sample->width);
    frame->height = static_cast<int>(sample->height);
    for (int p = 0; p < 3; ++p) {
      frame->data[p] = sample->data[p];
      frame->linesize[p] = sample->linesize[p];
    }
    sample_add_ref(sample);
    frame->buf[0] = av_buffer_create(sample->data[0], static_cast<size_t>(sample->linesize[0]) * sample->height,
                                     release_pooled, sample, AV_BUFFER_FLAG_READONLY);
    if (!frame->buf[0]) {
      sample_release(sample);
      return AVERROR(ENOMEM);
    }
    frame->color_range = v.ctx->color_range;
    frame->color_primaries = v.ctx->color_primaries;
    frame->color_trc = v.ctx->color_trc;
    frame->colorspace = v.ctx->colorspace;
    frame->chroma_location = v.ctx->chroma_sample_location;
    int64_t pts = av_rescale_q(sample->time, kHundredNs, v.ctx->time_base);
    if (pts <= v.last_pts) pts = v.last_pts + 1;  // stamps closer than one unit
    frame->pts = pts;
    v.last_pts = pts;

    AvFramePtr to_send;
    if (v.hw_frames) {
      to_send.reset(av_frame_alloc());
      if (!to_send) return AVERROR(ENOMEM);
      int r = av_hwframe_get_buffer(v.hw_frames.get(), to_send.get(), 0);
      if (r >= 0) r = av_hwframe_transfer_data(to_send.get(), frame.get(), 0);
      if (r >= 0) r = av_frame_copy_props(to_send.get(), frame.get());
      if (r < 0) return fail_if(r);
      // The surface copy is the picture kept for stream ticks.
      v.last = std::move(to_send);
    } else {
      v.last = std::move(frame);  // holds the pooled picture until the next one
    }
    MediaResult r = fail_if(encode(v.ctx.get(), v.stream, v.last.get(), &v.bytes));
    return r < 0 ? r : start_audio_when_ready();
  }

  // Where the sound track starts. The picture encoder reorders pictures: its
  // first packet is decoded a few frame times before the first picture is
  // shown, so the picture track starts that far before time zero. A
  // fragmented file has no edit list; the muxer shifts every track by the
  // same amount so that the earliest starts at zero, and moves the first
  // sample of a track that starts later to zero as well, which for sound
  // pulls the whole track forward (players lay decoded sound end to end).
  // So the sound track is made to start no later than the picture track:
  // silence in front, and the encoder's own priming counted in. A plain MP4
  // carries each track's start in its edit list and needs none of this.
  void align_audio() {
    AudioTrack& a = *audio_;
    if (a.aligned) return;
    a.aligned = true;
    if (attrs_.container != CONTAINER_FMPEG4 || video_->first_dts == AV_NOPTS_VALUE || video_->first_dts >= 0) return;
    const int64_t rate = a.out.samples_per_second;
    const int64_t lead = av_rescale_q_rnd(-video_->first_dts, video_->ctx->time_base,
                                          AVRational{1, static_cast<int>(rate)}, AV_ROUND_UP);
    const int64_t extra = lead - std::max(0, a.ctx->initial_padding);
    if (extra <= 0 || extra > rate) return;  // more than a second is no reorder delay
    a.lead = extra;
    if (!a.started) return;  // the first sound takes it in
    a.pcm.push_front_silence(static_cast<size_t>(extra));
    a.next_pts -= extra;
  }

  MediaResult start_audio_when_ready() {
    if (!audio_ || audio_->aligned || video_->first_dts == AV_NOPTS_VALUE) return 0;
    align_audio();
    return encode_whole_audio_frames();
  }

  MediaResult encode_whole_audio_frames() {
    AudioTrack& a = *audio_;
    if (!a.aligned) return 0;
    const size_t channels = a.out.num_channels;
    const size_t frame_size = a.ctx->frame_size > 0 ? static_cast<size_t>(a.ctx->frame_size) : 1024;
    while (a.pcm.frames() >= frame_size) {
      MediaResult r = encode_pcm(frame_size);
      if (r < 0) return fail_if(r);
    }
    return 0;
  }

  MediaResult encode_pcm(size_t frames) {
    AudioTrack& a = *audio_;
    AVCodecContext* c = a.ctx.get();
    const size_t channels = a.out.num_channels;
    AvFramePtr frame(av_frame_alloc());
    if (!frame) return AVERROR(ENOMEM);
    frame->nb_samples = static_cast<int>(frames);
    frame->format = c->sample_fmt;
    frame->sample_rate = c->sample_rate;
    int r = av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
    if (r < 0 || (r = av_frame_get_buffer(frame.get(), 0)) < 0) return r;
    if (c->sample_fmt == AV_SAMPLE_FMT_S16) {
      a.pcm.pop(reinterpret_cast<int16_t*>(frame->data[0]), frames);
    } else {
      a.scratch.resize(frames * channels);
      a.pcm.pop(a.scratch.data(), frames);
      const int16_t* src = a.scratch.data();
      for (size_t ch = 0; ch < channels; ++ch) {
        float* dst = reinterpret_cast<float*>(frame->extended_data[ch]);
        for (size_t i = 0; i < frames; ++i) dst[i] = src[i * channels + ch] * (1.0f / 32768.0f);
      }
    }
    frame->pts = a.next_pts;
    a.next_pts += static_cast<int64_t>(frames);
    return encode(c, a.stream, frame.get(), &a.bytes);
  }

  MediaResult write_pcm(MediaSample* sample) {
    AudioTrack& a = *audio_;
    const size_t channels = a.out.num_channels;
    const size_t frames = sample->length / (channels * sizeof(int16_t));
    if (frames == 0) return 0;
    const int64_t rate = a.out.samples_per_second;
    const int64_t at = av_rescale_q(sample->time, kHundredNs, AVRational{1, static_cast<int>(rate)});
    if (!a.started) {
      // The track starts with the file: sound that begins after the first
      // picture is preceded by silence. A fragmented file has no edit list
      // to carry a later start, and the player would pull the sound forward.
      a.next_pts = -a.lead;
      a.pcm.reset(channels);
      a.pcm.push_silence(static_cast<size_t>(std::max<int64_t>(at, 0) + a.lead));
      a.started = true;
    } else {
      // Keep the track on the clock across a hole in the input: fill it with
      // silence instead of pulling later sound forward.
      const int64_t end = a.next_pts + static_cast<int64_t>(a.pcm.frames());
      if (at - end > rate / 50) a.pcm.push_silence(static_cast<size_t>(at - end));
    }
    const int16_t* src = reinterpret_cast<const int16_t*>(sample->data[0]);
    a.pcm.push(src, frames);
    return encode_whole_audio_frames();
  }

  AvOutputPtr oc_;
  WriterAttributes attrs_;
  std::unique_ptr<VideoTrack> video_;
  std::unique_ptr<AudioTrack> audio_;
  bool began_ = false;
  bool finalized_ = false;
  MediaResult error_ = 0;
};

}  // namespace

MediaResult ffmpeg_create_writer(const std::string& path, const WriterAttributes& attributes,
                                 std::unique_ptr<MediaWriter>* writer) {
  ffmpeg_quiet_logs();
  AVFormatContext* raw = nullptr;
  int r = avformat_alloc_output_context2(&raw, nullptr, "mp4", path.c_str());
  if (r < 0 || !raw) return r < 0 ? r : AVERROR(ENOMEM);
  AvOutputPtr oc(raw);
  // Created here, exclusively and never through a link, then written only
  // through the open descriptor: whatever appears at the name later (a link
  // planted by another user of the folder) cannot redirect the recording.
  FileHandle file;
  int error = 0;
  if (!create_new_file(path, &file, &error)) return AVERROR(error != 0 ? error : EIO);
  r = fd_output_open(oc.get(), file);
  if (r < 0) {
    delete_file(path);
    return r;
  }
  *writer = std::make_unique<FfmpegWriter>(std::move(oc), attributes);
  return 0;
}
