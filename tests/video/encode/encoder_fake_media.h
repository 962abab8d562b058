#pragma once
// A media platform that records what the encoder asks of it, with failures
// and resampler refusals on demand.
#include <deque>
#include <functional>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "video/encode/media_writer.h"

struct FakeCall {
  std::string op;  // "video", "audio", "tick", "finalize"
  int64_t time = 0;
  int64_t duration = 0;
  uint32_t discontinuity = 0;
  size_t length = 0;
};

struct FakeMedia {
  std::mutex m;
  std::vector<FakeCall> calls;
  bool encoder_found = true;
  // Which requests open, when set (else encoder_found answers every one).
  std::function<bool(const VideoEncoderRequest&)> encoder_table;
  std::vector<VideoEncoderRequest> encoder_checks;  // every check, in order
  bool file_existed_at_check = false;               // the output file, when the last check ran
  std::string output_path;                          // set by the test to watch for the file
  MediaResult create_result = 0, add_video = 0, video_input = 0, add_audio = 0, audio_input = 0, begin = 0;
  MediaResult video_write = 0, finalize_result = 0;
  bool hold_video = false;  // keep every written picture until released
  std::vector<MediaSample*> held;
  MediaSample* last_video = nullptr;
  int stats_calls = 0;
  std::deque<MediaResult> input_script;  // results of the resampler's next inputs
  // What set-up asked for.
  VideoOutputType video_type;
  VideoInputType video_input_type;
  CodecSettings settings;
  bool settings_set = false;
  AudioOutputType audio_type;
  WriterAttributes attributes;
  WaveFormat resampler_in{}, resampler_out{};
  bool resampler_created = false;

  std::vector<FakeCall> of(const std::string& op) {
    std::lock_guard<std::mutex> g(m);
    std::vector<FakeCall> out;
    for (const auto& c : calls) if (c.op == op) out.push_back(c);
    return out;
  }
  size_t count(const std::string& op) { return of(op).size(); }
  void release_held(size_t n) {
    std::vector<MediaSample*> go;
    {
      std::lock_guard<std::mutex> g(m);
      while (n-- > 0 && !held.empty()) { go.push_back(held.front()); held.erase(held.begin()); }
    }
    for (MediaSample* s : go) sample_release(s);
  }
};

inline FakeMedia* g_fake = nullptr;

class FakeWriter : public MediaWriter {
 public:
  MediaResult add_video_stream(const VideoOutputType& t, int32_t* i) override {
    g_fake->video_type = t;
    *i = 0;
    return g_fake->add_video;
  }
  MediaResult add_audio_stream(const AudioOutputType& t, int32_t* i) override {
    g_fake->audio_type = t;
    *i = 1;
    return g_fake->add_audio;
  }
  MediaResult set_video_input(int32_t, const VideoInputType& t) override {
    g_fake->video_input_type = t;
    return g_fake->video_input;
  }
  MediaResult set_audio_input(int32_t, const AudioInputType&) override { return g_fake->audio_input; }
  bool set_codec_settings(int32_t, const CodecSettings& s) override {
    g_fake->settings = s;
    g_fake->settings_set = true;
    return true;
  }
  PixelLayout picture_layout(int32_t) const override { return PIXEL_NV12; }
  MediaResult begin_writing() override { return g_fake->begin; }
  MediaResult write_sample(int32_t index, MediaSample* s) override {
    std::lock_guard<std::mutex> g(g_fake->m);
    g_fake->calls.push_back({index == 0 ? "video" : "audio", s->time, s->duration, s->discontinuity, s->length});
    if (index == 0 && media_failed(g_fake->video_write)) return g_fake->video_write;
    if (index == 0) g_fake->last_video = s;
    if (index == 0 && g_fake->hold_video) {
      sample_add_ref(s);
      g_fake->held.push_back(s);
    }
    return 0;
  }
  MediaResult send_stream_tick(int32_t, int64_t time) override {
    std::lock_guard<std::mutex> g(g_fake->m);
    g_fake->calls.push_back({"tick", time});
    return 0;
  }
  MediaResult get_statistics(int32_t index, uint64_t* bytes) override {
    std::lock_guard<std::mutex> g(g_fake->m);
    g_fake->stats_calls += 1;
    *bytes = index == 0 ? 1000 : 10;
    return 0;
  }
  MediaResult finalize() override {
    std::lock_guard<std::mutex> g(g_fake->m);
    g_fake->calls.push_back({"finalize"});
    return g_fake->finalize_result;
  }
  ~FakeWriter() override { g_fake->release_held(SIZE_MAX); }
};

// Holds one input's worth of output until it is taken.
class FakeResampler : public AudioTransform {
 public:
  MediaResult set_input_type(const WaveFormat& f) override { g_fake->resampler_in = f; return 0; }
  MediaResult set_output_type(const WaveFormat& f) override { g_fake->resampler_out = f; return 0; }
  MediaResult begin_streaming() override { return 0; }
  MediaResult process_input(const MediaSample* s) override {
    MediaResult r = 0;
    {
      std::lock_guard<std::mutex> g(g_fake->m);
      if (!g_fake->input_script.empty()) { r = g_fake->input_script.front(); g_fake->input_script.pop_front(); }
      g_fake->calls.push_back({"input", s->time, s->duration, 0, s->length});
    }
    if (r == MEDIA_E_NOTACCEPTING) return r;
    pending_ = true;
    time_ = s->time;
    duration_ = s->duration;
    return r;
  }
  MediaResult process_output(MediaSample* s) override {
    if (!pending_) return MEDIA_E_TRANSFORM_NEED_MORE_INPUT;
    pending_ = false;
    s->length = 4;
    s->time = time_;
    s->duration = duration_;
    return 0;
  }
  MediaResult drain() override { return 0; }

 private:
  bool pending_ = false;
  int64_t time_ = 0, duration_ = 0;
};

inline const MediaPlatform& fake_platform() {
  static const MediaPlatform p = {
      [](const VideoEncoderRequest& r, std::string* name) {
        g_fake->encoder_checks.push_back(r);
        if (!g_fake->output_path.empty()) {
          g_fake->file_existed_at_check = std::ifstream(g_fake->output_path).good();
        }
        if (name) *name = "fake";
        return g_fake->encoder_table ? g_fake->encoder_table(r) : g_fake->encoder_found;
      },
      [](const std::string& path, const WriterAttributes& a, std::unique_ptr<MediaWriter>* w) -> MediaResult {
        g_fake->attributes = a;
        if (media_failed(g_fake->create_result)) return g_fake->create_result;
        std::ofstream(path) << "x";  // the file exists from here on, as with the real writer
        *w = std::make_unique<FakeWriter>();
        return 0;
      },
      []() -> std::unique_ptr<AudioTransform> {
        g_fake->resampler_created = true;
        return std::make_unique<FakeResampler>();
      }};
  return p;
}
