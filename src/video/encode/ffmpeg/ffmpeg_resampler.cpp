// The audio resampler transform over libswresample. It converts each input
// at once and keeps the result until process_output has taken all of it;
// meanwhile it refuses more input, as the encoder's feeding rules expect.
#include <cstring>
#include <vector>

#include "video/encode/ffmpeg/av_ptr.h"
#include "video/encode/ffmpeg/ffmpeg_writer.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace {

bool sample_format_of(const WaveFormat& f, AVSampleFormat* out) {
  uint16_t tag = f.wFormatTag;
  if (tag == WAVE_FORMAT_EXTENSIBLE) tag = f.is_float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
  if (tag == WAVE_FORMAT_IEEE_FLOAT && f.wBitsPerSample == 32) { *out = AV_SAMPLE_FMT_FLT; return true; }
  if (tag == WAVE_FORMAT_PCM && f.wBitsPerSample == 16) { *out = AV_SAMPLE_FMT_S16; return true; }
  if (tag == WAVE_FORMAT_PCM && f.wBitsPerSample == 32) { *out = AV_SAMPLE_FMT_S32; return true; }
  return false;
}

bool valid(const WaveFormat& f) {
  AVSampleFormat unused;
  return f.nChannels > 0 && f.nSamplesPerSec > 0 &&
         f.nBlockAlign == f.nChannels * (f.wBitsPerSample / 8) && sample_format_of(f, &unused);
}

void layout_of(const WaveFormat& f, AVChannelLayout* layout) {
  if (f.wFormatTag == WAVE_FORMAT_EXTENSIBLE && f.dwChannelMask != 0 &&
      av_channel_layout_from_mask(layout, f.dwChannelMask) == 0 && layout->nb_channels == f.nChannels) {
    return;
  }
  av_channel_layout_uninit(layout);
  av_channel_layout_default(layout, f.nChannels);
}

class SwrTransform final : public AudioTransform {
 public:
  MediaResult set_input_type(const WaveFormat& format) override {
    if (!valid(format)) return AVERROR(EINVAL);
    in_ = format;
    has_in_ = true;
    swr_.reset();
    return 0;
  }

  MediaResult set_output_type(const WaveFormat& format) override {
    if (!valid(format) || format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample != 16) return AVERROR(EINVAL);
    out_ = format;
    has_out_ = true;
    swr_.reset();
    return 0;
  }

  MediaResult begin_streaming() override {
    if (!has_in_ || !has_out_) return AVERROR(EINVAL);
    if (swr_) return 0;
    AVChannelLayout in_layout{}, out_layout{};
    layout_of(in_, &in_layout);
    layout_of(out_, &out_layout);
    AVSampleFormat in_format = AV_SAMPLE_FMT_FLT;
    sample_format_of(in_, &in_format);
    SwrContext* raw = nullptr;
    int r = swr_alloc_set_opts2(&raw, &out_layout, AV_SAMPLE_FMT_S16, static_cast<int>(out_.nSamplesPerSec),
                                &in_layout, in_format, static_cast<int>(in_.nSamplesPerSec), 0, nullptr);
    av_channel_layout_uninit(&in_layout);
    av_channel_layout_uninit(&out_layout);
    if (r < 0) return r;
    SwrPtr swr(raw);
    if ((r = swr_init(swr.get())) < 0) return r;
    swr_ = std::move(swr);
    pending_.clear();
    read_ = 0;
    return 0;
  }

  MediaResult process_input(const MediaSample* sample) override {
    if (!swr_ && begin_streaming() < 0) return AVERROR(EINVAL);
    if (read_ < pending_.size()) return MEDIA_E_NOTACCEPTING;
    pending_.clear();
    read_ = 0;
    const int frames = static_cast<int>(sample->length / in_.nBlockAlign);
    if (frames <= 0 || !sample->data[0]) return 0;
    pending_time_ = sample->time;
    return convert(sample->data[0], frames);
  }

  MediaResult process_output(MediaSample* sample) override {
    if (read_ >= pending_.size()) return MEDIA_E_TRANSFORM_NEED_MORE_INPUT;
    const size_t block = out_.nBlockAlign;
    size_t n = std::min(pending_.size() - read_, sample->capacity / block * block);
    if (n == 0) return AVERROR(EINVAL);
    std::memcpy(sample->data[0], pending_.data() + read_, n);
    read_ += n;
    sample->length = n;
    const int64_t frames = static_cast<int64_t>(n / block);
    sample->time = pending_time_;
    sample->duration = frames * 10'000'000 / out_.nSamplesPerSec;
    pending_time_ += sample->duration;
    if (read_ >= pending_.size()) {
      pending_.clear();
      read_ = 0;
    }
    return 0;
  }

  MediaResult drain() override {
    if (!swr_) return 0;
    if (read_ >= pending_.size()) {
      pending_.clear();
      read_ = 0;
    }
    return convert(nullptr, 0);
  }

 private:
  // Appends the converted frames (or, for null input, what the filter still
  // holds) to the pending output.
  MediaResult convert(const uint8_t* data, int frames) {
    const int room = swr_get_out_samples(swr_.get(), frames);
    if (room < 0) return room;
    if (room == 0) return 0;
    const size_t old = pending_.size();
    pending_.resize(old + static_cast<size_t>(room) * out_.nBlockAlign);
    uint8_t* out = pending_.data() + old;
    const uint8_t* in = data;
    const int made = swr_convert(swr_.get(), &out, room, data ? &in : nullptr, frames);
    if (made < 0) {
      pending_.resize(old);
      return made;
    }
    pending_.resize(old + static_cast<size_t>(made) * out_.nBlockAlign);
    return 0;
  }

  WaveFormat in_{}, out_{};
  bool has_in_ = false, has_out_ = false;
  SwrPtr swr_;
  std::vector<uint8_t> pending_;
  size_t read_ = 0;
  int64_t pending_time_ = 0;
};

}  // namespace

std::unique_ptr<AudioTransform> ffmpeg_create_resampler() { return std::make_unique<SwrTransform>(); }
