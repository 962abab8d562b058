// Encoder set-up: one recording request becomes an open file, a writer with
// its tracks, the conversion stage, the sample pools and a running worker.
#include <cstdio>
#include <cstdlib>

#include "core/app_state.h"
#include "core/ui_service.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "core/trace.h"
#include "video/encode/encoder.h"
#include "video/encode/sample_pool.h"
#include "platform/thread.h"

namespace {
void (*g_before_create)(const std::string& path) = nullptr;

struct CodecRow {
  VideoCodecKind codec;
  uint32_t profile_value;
  PixelLayout input;
  bool fragmentable;
};

CodecRow codec_row(uint32_t video_codec, uint32_t video_profile) {
  switch (video_codec) {
    case VIDEO_CODEC_H265:
      return video_profile == VIDEO_PROFILE_MAIN10 ? CodecRow{VIDEO_HEVC, 2, PIXEL_P010, false}
                                                   : CodecRow{VIDEO_HEVC, 1, PIXEL_NV12, false};
    case VIDEO_CODEC_AV1:
      return video_profile == VIDEO_PROFILE_MAIN10 ? CodecRow{VIDEO_AV1, 2, PIXEL_P010, false}
                                                   : CodecRow{VIDEO_AV1, 1, PIXEL_NV12, false};
    default:
      if (video_profile == VIDEO_PROFILE_BASE) return {VIDEO_H264, 66, PIXEL_NV12, true};
      if (video_profile == VIDEO_PROFILE_MAIN) return {VIDEO_H264, 77, PIXEL_NV12, true};
      return {VIDEO_H264, 100, PIXEL_NV12, true};
  }
}

// Debugger output: not part of the run trace. Shown on standard error when
// FRELVANTA_DEBUG_OUTPUT is set.
void debug_output(const std::string& text) {
  if (std::getenv("FRELVANTA_DEBUG_OUTPUT")) std::fputs(text.c_str(), stderr);
}

void fail_message(const std::string& text) { show_message(text, "Frelvanta", MB_ICONERROR); }

uint32_t hex32(MediaResult r) { return static_cast<uint32_t>(r); }

void release_video_objects(Encoder& e) {
  for (uint32_t i = 0; i < kVideoPoolSize; ++i) {
    delete e.video_samples[i];
    e.video_samples[i] = nullptr;
    e.surfaces[i].memory.reset();
    e.surfaces[i] = SurfaceSet{};
  }
  e.convert = ConvertStage{};
  e.resize = ResizeStage{};
  e.device_converter.reset();
}

// The writer names the picture layout its encoder reads; the surfaces are
// made in it so no copy is needed on the way.
SurfaceLayout surface_layout_of(PixelLayout layout) {
  return layout == PIXEL_YUV420P || layout == PIXEL_YUV420P10 ? SURFACE_LAYOUT_PLANAR : SURFACE_LAYOUT_INTERLEAVED;
}

void release_audio_objects(Encoder& e) {
  for (uint32_t i = 0; i < kAudioPoolSize; ++i) {
    if (e.audio_samples[i]) std::free(e.audio_samples[i]->data[0]);
    delete e.audio_samples[i];
    e.audio_samples[i] = nullptr;
  }
}

}  // namespace

void encoder_release_objects(Encoder& e) {
  release_audio_objects(e);
  release_video_objects(e);
}

OutputSize encoder_output_size(uint32_t W, uint32_t H, uint32_t mw, uint32_t mh) {
  uint32_t w = W, h = H;
  auto by_height = [&] {
    if (mh < H) { w = mh * W / H; h = mh; }
  };
  auto by_width = [&] {
    if (mw < W) { w = mw; h = mw * H / W; }
  };
  if (mw == 0 && mh != 0) {
    by_height();
  } else if (mw != 0 && mh == 0) {
    by_width();
  } else if (mw != 0 && mh != 0) {
    if (mw * H >= mh * W) by_height(); else by_width();
  }
  return {(w + 1) & ~1u, (h + 1) & ~1u};
}

uint32_t encoder_gop_size(uint32_t num, uint32_t den) { return (num * 4 - 1) / den + 1; }

bool encoder_hd_color(uint32_t output_width, uint32_t output_height, uint32_t video_codec) {
  return output_width >= 1280 || output_height > 576 || video_codec == VIDEO_CODEC_H265 ||
         video_codec == VIDEO_CODEC_AV1;
}

namespace {
// What set-up decides from the request before anything is made.
struct SetupPlan {
  const Config* cfg = nullptr;
  OutputSize out{};
  uint32_t in_even_w = 0, in_even_h = 0;  // the captured picture made even
  CodecRow row{};
  bool hardware = false;
  ContainerKind container = CONTAINER_MPEG4;
  bool hd_color = false;
};

// A worker that still exists, or one that never ended, owns the record;
// such a request is refused without a message.
bool admitted(const Encoder& e, const EncoderConfig& config) {
  if (e.abandoned.load() || e.worker_running.load()) return false;
  return config.config && config.frame_rate_num != 0 && config.frame_rate_den != 0;
}

SetupPlan plan_setup(const EncoderConfig& config) {
  const Config& cfg = *config.config;
  SetupPlan p;
  p.cfg = &cfg;
  p.out = encoder_output_size(config.width, config.height, cfg.VideoMaxWidth, cfg.VideoMaxHeight);
  p.in_even_w = (config.width + 1) & ~1u;
  p.in_even_h = (config.height + 1) & ~1u;
  p.row = codec_row(cfg.VideoCodec, cfg.VideoProfile);
  p.hardware = cfg.HardwareEncoder != 0;
  p.container = (p.row.fragmentable && cfg.FragmentedOutput) ? CONTAINER_FMPEG4 : CONTAINER_MPEG4;
  p.hd_color = encoder_hd_color(p.out.width, p.out.height, cfg.VideoCodec);
  return p;
}

// The encoder for codec, profile and bit depth is opened (and closed again)
// before the file exists, so a refusal leaves nothing behind and its message
// is the first thing the user sees. There is no fallback from hardware to
// software.
bool check_encoder(const SetupPlan& p, const CaptureDevice& device, const EncoderConfig& config) {
  const std::string& render_node = device.render_node;
  VideoEncoderRequest request;
  request.codec = p.row.codec;
  request.profile = p.row.profile_value;
  request.input = p.row.input;
  request.hardware = p.hardware;
  if (p.hardware) {
    request.render_node = render_node;
    request.driver = device.driver;
    request.adapter_luid = device.adapter_luid;
  }
  request.width = p.out.width;
  request.height = p.out.height;
  request.frame_rate_num = config.frame_rate_num;
  request.frame_rate_den = config.frame_rate_den;
  std::string encoder_name;
  const bool found = media_platform().find_video_encoder(request, &encoder_name);
  trace_eventf("encoder.check encoder=%s device=%s profile=%u bits=%d result=%s", encoder_name.c_str(),
               p.hardware ? (render_node.empty() ? "none" : render_node.c_str()) : "cpu", p.row.profile_value,
               p.row.input == PIXEL_P010 ? 10 : 8, found ? "opened" : "refused");
  if (!found) fail_message("Cannot find video encoder!");
  return found;
}

// Creates the output file and the writer on it.
bool create_writer(const SetupPlan& p, const CaptureDevice& device, const std::string& path,
                   std::unique_ptr<MediaWriter>* writer) {
  WriterAttributes attributes;
  attributes.hardware_transforms = p.hardware;
  if (p.hardware) {
    attributes.render_node = device.render_node;
    attributes.driver = device.driver;
  }
  attributes.d3d11 = device.d3d11;
  attributes.disable_throttling = true;
  attributes.container = p.container;

  debug_output(format_cut(1024, "Attempting to create file: %s\n", path.c_str()));
  if (g_before_create) g_before_create(path);
  const MediaResult hr = media_platform().create_writer(path, attributes, writer);
  debug_output(format_cut(1024, "MFCreateSinkWriterFromURL returned: 0x%08X\n", hex32(hr)));
  if (media_failed(hr) || !*writer) {
    fail_message(format_cut(512, "Cannot create output mp4 file!\n\nError: 0x%08X\nPath: %s", hex32(hr),
                            path.c_str()));
    return false;
  }
  return true;
}

// The video track: what the file holds (with its colour description) and
// the pictures the encoder is given.
bool add_video_track(Encoder& e, MediaWriter& writer, const SetupPlan& p, const EncoderConfig& config) {
  const Config& cfg = *p.cfg;
  VideoOutputType vout;
  vout.codec = p.row.codec;
  vout.profile = p.row.profile_value;
  vout.chroma_siting = CHROMA_SITING_MPEG2;
  vout.nominal_range = NOMINAL_RANGE_16_235;
  vout.primaries = p.hd_color ? PRIMARIES_BT709 : PRIMARIES_SMPTE170M;
  vout.matrix = p.hd_color ? MATRIX_BT709 : MATRIX_BT601;
  vout.transfer = TRANSFER_18;
  vout.interlace = INTERLACE_PROGRESSIVE;
  vout.frame_rate_num = config.frame_rate_num;
  vout.frame_rate_den = config.frame_rate_den;
  vout.width = p.out.width;
  vout.height = p.out.height;
  vout.avg_bitrate = cfg.VideoBitrate * 1000;
  if (media_failed(writer.add_video_stream(vout, &e.video_stream))) {
    fail_message("Cannot configure video encoder!");
    return false;
  }

  VideoInputType vin;
  vin.subtype = p.row.input;
  vin.frame_rate_num = config.frame_rate_num;
  vin.frame_rate_den = config.frame_rate_den;
  vin.width = p.out.width;
  vin.height = p.out.height;
  if (media_failed(writer.set_video_input(e.video_stream, vin))) {
    fail_message("Cannot configure video encoder input!");
    return false;
  }

  CodecSettings settings;
  settings.rate_control_mode = 2;
  settings.mean_bitrate = cfg.VideoBitrate * 1000;
  settings.gop_size = encoder_gop_size(config.frame_rate_num, config.frame_rate_den);
  settings.low_latency = false;
  settings.b_picture_count = 2;
  writer.set_codec_settings(e.video_stream, settings);  // none offered: go on without
  return true;
}

// The audio track and the resampler from the capture format to its PCM;
// nothing without an audio format.
bool add_audio_track(Encoder& e, MediaWriter& writer, const SetupPlan& p, const EncoderConfig& config,
                     std::unique_ptr<AudioTransform>* resampler) {
  if (!config.audio_format) return true;
  const Config& cfg = *p.cfg;
  *resampler = media_platform().create_resampler();
  if (*resampler) {
    (*resampler)->set_input_type(*config.audio_format);
    (*resampler)->set_output_type(wave_format_pcm16(cfg.AudioSamplerate, static_cast<uint16_t>(cfg.AudioChannels)));
    (*resampler)->begin_streaming();
  }
  AudioOutputType aout;
  aout.codec = cfg.AudioCodec == AUDIO_CODEC_FLAC ? AUDIO_FLAC : AUDIO_AAC;
  aout.bits_per_sample = 16;
  aout.samples_per_second = cfg.AudioSamplerate;
  aout.num_channels = cfg.AudioChannels;
  aout.avg_bytes_per_second = aout.codec == AUDIO_AAC ? cfg.AudioBitrate * 1000 / 8 : 0;
  if (!*resampler || media_failed(writer.add_audio_stream(aout, &e.audio_stream))) {
    fail_message("Cannot configure audio encoder output!");
    return false;
  }
  AudioInputType ain;
  ain.bits_per_sample = 16;
  ain.samples_per_second = cfg.AudioSamplerate;
  ain.num_channels = cfg.AudioChannels;
  if (media_failed(writer.set_audio_input(e.audio_stream, ain))) {
    fail_message("Cannot configure audio encoder input!");
    return false;
  }
  return true;
}

bool begin_writing(MediaWriter& writer) {
  if (media_failed(writer.begin_writing())) {
    fail_message("Cannot start writing to mp4 file!");
    return false;
  }
  return true;
}

// Conversion: the captured picture (made even) is cleared to black once,
// then scaled and converted into one surface per pooled sample. A stage
// that cannot be made (a size it refuses, memory that cannot be had) would
// leave frames converted into nothing: set-up fails instead, with the
// encoder-input message.
bool build_conversion(Encoder& e, const CaptureDevice& device, const SetupPlan& p, const MediaWriter& writer) {
  constexpr const char* kNoInput = "Cannot configure video encoder input!";
  const Config& cfg = *p.cfg;
  release_video_objects(e);
  release_audio_objects(e);
  const PixelLayout layout = writer.picture_layout(e.video_stream);
  if (!create_resize_stage(e.resize, device, p.in_even_w, p.in_even_h, p.out.width, p.out.height,
                           cfg.GammaCorrectResize != 0)) {
    trace_event("encoder.setup_failed stage=resize");
    fail_message(kNoInput);
    return false;
  }
  clear_input_texture(e);
  if (!create_convert_stage(e.convert, device, &e.resize.output_texture, p.out.width, p.out.height, p.hd_color,
                            cfg.ImprovedColorConversion != 0)) {
    trace_event("encoder.setup_failed stage=convert");
    fail_message(kNoInput);
    return false;
  }
  const uint32_t surface_format = p.row.input == PIXEL_NV12 ? SURFACE_FORMAT_NV12 : SURFACE_FORMAT_P010;
  for (uint32_t i = 0; i < kVideoPoolSize; ++i) {
    if (!create_surface_set(e.surfaces[i], device, p.out.width, p.out.height, surface_format,
                            surface_layout_of(layout))) {
      trace_event("encoder.setup_failed stage=surfaces");
      fail_message(kNoInput);
      return false;
    }
    MediaSample* s = new MediaSample();
    for (int plane = 0; plane < 3; ++plane) {
      s->data[plane] = e.surfaces[i].data[plane];
      s->linesize[plane] = e.surfaces[i].linesize[plane];
    }
    s->layout = layout;
    s->width = p.out.width;
    s->height = p.out.height;
    e.video_samples[i] = s;
  }
  // The device's converter, where it has one; the CPU stages stay as the
  // fallback when it cannot be set up.
  e.device_converter = create_device_converter(device);
  if (e.device_converter) {
    ConverterSetup cs;
    cs.in_width = p.in_even_w;
    cs.in_height = p.in_even_h;
    cs.out_width = p.out.width;
    cs.out_height = p.out.height;
    cs.gamma = cfg.GammaCorrectResize != 0;
    cs.hd_color = p.hd_color;
    cs.improved = cfg.ImprovedColorConversion != 0;
    cs.format = surface_format;
    cs.surfaces = kVideoPoolSize;
    if (surface_layout_of(layout) != SURFACE_LAYOUT_INTERLEAVED || !e.device_converter->create(cs)) {
      trace_event("encoder.device_convert_unavailable");
      e.device_converter.reset();
    }
  }
  return true;
}

// The record takes over the writer and starts the recording's counters,
// pools and queues from nothing.
void adopt_writer(Encoder& e, const SetupPlan& p, const EncoderConfig& config, std::unique_ptr<MediaWriter> writer,
                  std::unique_ptr<AudioTransform> resampler) {
  const Config& cfg = *p.cfg;
  e.output_width = p.out.width;
  e.output_height = p.out.height;
  e.input_width = config.width;
  e.input_height = config.height;
  e.frame_rate_num = config.frame_rate_num;
  e.frame_rate_den = config.frame_rate_den;
  e.stats_time.store(0);
  e.has_video_sample.store(0);
  e.discontinuity_pending.store(0);
  e.write_failed.exchange(0);
  e.last_video_time.store(INT64_MIN);
  e.last_frame_arrival = 0;
  e.last_frame_interval = 0;
  e.constant_rate = cfg.ConstantFrameRate != 0;
  e.last_slot = -1;
  e.held_index = -1;
  e.held_time = 0;
  e.held_audio.clear();
  pool_callback_init(&e.video_return_callback, e.video_samples, kVideoPoolSize, &e.video_free);
  e.video_free.exchange(0xFF);

  if (e.audio_stream >= 0) {
    e.audio_input_sample.data[0] = nullptr;
    e.audio_input_sample.length = e.audio_input_sample.capacity = 0;
    const size_t bytes = static_cast<size_t>(cfg.AudioSamplerate) * cfg.AudioChannels * 2;
    for (uint32_t i = 0; i < kAudioPoolSize; ++i) {
      MediaSample* s = new MediaSample();
      s->data[0] = static_cast<uint8_t*>(std::malloc(bytes));
      s->capacity = s->data[0] ? bytes : 0;
      e.audio_samples[i] = s;
    }
    e.audio_block_align = config.audio_format->nBlockAlign;
    e.audio_rate = config.audio_format->nSamplesPerSec;
    e.resampler = std::move(resampler);
    pool_callback_init(&e.audio_return_callback, e.audio_samples, kAudioPoolSize, &e.audio_free);
    e.audio_free.exchange(0xFFFF);
  } else {
    e.audio_free.exchange(0);
  }

  e.first_video_time.store(0);
  e.audio_end_time.store(0);
  e.video_sample_wait_failures.store(0);
  e.video_duplicate_frames.store(0);
  e.video_stream_ticks.store(0);
  e.audio_backpressure_events.store(0);
  e.encoder_audio_dropped.store(0);
  e.writer = std::move(writer);
  e.time_base.store(0);

  {
    std::lock_guard<std::mutex> guard(e.lock);
    e.video_queue.read_index = e.video_queue.write_index = e.video_queue.count = 0;
    e.audio_queue.read_index = e.audio_queue.write_index = e.audio_queue.count = 0;
  }
  e.accepting.store(0);
  e.stop_requested.store(0);
  e.finalize_ok.store(0);
  e.worker_done.store(0);
  e.stats_valid.store(0);
  e.stage.store(ENCODER_STAGE_IDLE);
  e.last_activity.store(qpc_now());
  e.queue_busy_since.store(0);
  e.stats_bytes.store(0);
  e.stop_timed_out.store(0);
  e.abandoned.store(0);
}

// A refusal without a message: the process start-up made the event, so only
// a run that skipped it, or a thread the system would not create, ends here.
// The trace tells why no recording started.
bool start_worker(Encoder& e) {
  if (!e.wake_event) {
    trace_event("encoder.setup_failed stage=worker reason=no_wake_event");
    return false;
  }
  e.worker_exited.store(0);
  if (!thread_start(&e.worker_thread, [&e] { encoder_worker(&e); })) {
    trace_event("encoder.setup_failed stage=worker reason=thread");
    return false;
  }
  e.worker_running.store(1);
  e.accepting.exchange(1);
  return true;
}

// Undoes a set-up that made the file: nothing may write to it, and nothing
// half-built stays behind.
void abandon_file(Encoder& e, const std::string& path, std::unique_ptr<MediaWriter> writer,
                  std::unique_ptr<AudioTransform> resampler) {
  resampler.reset();
  writer.reset();
  e.writer.reset();
  e.resampler.reset();
  release_audio_objects(e);
  release_video_objects(e);
  delete_file(path);
}
}  // namespace

bool encoder_setup(Encoder& e, const CaptureDevice& device, const std::string& path,
                   const EncoderConfig& config) {
  if (!admitted(e, config)) return false;
  const SetupPlan plan = plan_setup(config);
  e.video_stream = e.audio_stream = -1;

  std::unique_ptr<MediaWriter> writer;
  if (!check_encoder(plan, device, config) || !create_writer(plan, device, path, &writer)) return false;

  // From here on a failure must not leave the file behind.
  std::unique_ptr<AudioTransform> resampler;
  const bool built = add_video_track(e, *writer, plan, config) &&
                     add_audio_track(e, *writer, plan, config, &resampler) && begin_writing(*writer) &&
                     build_conversion(e, device, plan, *writer);
  if (built) {
    adopt_writer(e, plan, config, std::move(writer), std::move(resampler));
    if (start_worker(e)) return true;
  }
  abandon_file(e, path, std::move(writer), std::move(resampler));
  return false;
}

void encoder_test_before_create(void (*hook)(const std::string& path)) { g_before_create = hook; }
