#pragma once
// The encoder record: queues, sample pools, worker and counters. One per
// process, inside App. Set-up fills it, the worker runs it, recording stop
// and the watchdog read the atomic fields.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "capture/device.h"
#include "video/convert/convert_stage.h"
#include "video/convert/resize_stage.h"
#include "video/convert/surfaces.h"
#include "video/convert/video_converter.h"
#include "video/encode/media_sample.h"
#include "video/encode/media_writer.h"
#include "video/encode/wave_format.h"

struct Config;

// What recording start hands to encoder set-up.
struct EncoderConfig {
  uint32_t width = 0, height = 0;  // captured area
  uint32_t frame_rate_num = 0, frame_rate_den = 1;
  const WaveFormat* audio_format = nullptr;  // not owned; null: no audio track
  const Config* config = nullptr;
};

enum EncoderItemType : uint32_t { ENCODER_ITEM_VIDEO = 1, ENCODER_ITEM_TICK = 2, ENCODER_ITEM_AUDIO = 3 };

struct EncoderItem {
  uint32_t type = 0;
  uint32_t index = 0;     // video: pooled sample index
  int64_t time = 0;       // counter ticks
  uint64_t time_base = 0; // ticks per second of `time`
  uint8_t* data = nullptr;  // audio: malloc'd copy, owned by the item
  uint32_t frames = 0;
};

constexpr uint32_t kEncoderQueueSize = 128;
struct EncoderQueue {
  EncoderItem items[kEncoderQueueSize];
  uint32_t read_index = 0, write_index = 0, count = 0;
};

enum EncoderStage : uint32_t {
  ENCODER_STAGE_IDLE = 0,
  ENCODER_STAGE_VIDEO_WRITE = 1,
  ENCODER_STAGE_STREAM_TICK = 2,
  ENCODER_STAGE_AUDIO_PROCESS = 3,
  ENCODER_STAGE_AUDIO_FLUSH = 9,
  ENCODER_STAGE_FINALIZE = 11
};

constexpr uint32_t kVideoPoolSize = 8;
constexpr uint32_t kAudioPoolSize = 16;

struct Encoder {
  Encoder() = default;
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
  // An abandoned worker may still be blocked inside the writer when the
  // process ends; it is left to the process exit.
  ~Encoder() {
    if (worker_thread.joinable()) worker_thread.detach();
  }

  uint32_t input_width = 0, input_height = 0;
  uint32_t output_width = 0, output_height = 0;
  uint32_t frame_rate_num = 0, frame_rate_den = 1;
  std::atomic<int64_t> first_video_time{0};

  SampleReturnCallback video_return_callback;
  SampleReturnCallback audio_return_callback;

  std::unique_ptr<MediaWriter> writer;
  int32_t video_stream = -1, audio_stream = -1;

  // Input picture of the captured size (made even), scaled and converted into
  // one surface per pooled video sample.
  ResizeStage resize;
  ConvertStage convert;
  SurfaceSet surfaces[kVideoPoolSize];
  // Where the capture's graphics device converts (create_device_converter),
  // frames go through it instead of the stages above and each converted
  // picture is read back into surfaces[i], which the samples wrap.
  std::unique_ptr<VideoConverter> device_converter;
  MediaSample* video_samples[kVideoPoolSize] = {};
  std::atomic<uint32_t> video_free{0};  // bit i set: video_samples[i] is free

  std::atomic<uint32_t> discontinuity_pending{0};
  std::atomic<int64_t> last_video_time{INT64_MIN};
  // Worker only: the previous video item's own time (0: none yet) and the
  // interval before it, for the pace at which frames really come.
  int64_t last_frame_arrival = 0;
  int64_t last_frame_interval = 0;
  // Constant frame rate: every slot of the frame rate from the first picture
  // on gets a picture, the last one again where no new one came. Worker
  // only: the number of the last slot filled (-1: none yet).
  bool constant_rate = false;
  int64_t last_slot = -1;
  // Worker only: the first picture, held until the second one shows where
  // the steady run of pictures lies (-1: none held), and the sound blocks
  // that came meanwhile, written once the file's time zero is fixed.
  int32_t held_index = -1;
  int64_t held_time = 0;
  uint64_t held_time_base = 0;
  std::vector<EncoderItem> held_audio;
  std::atomic<uint32_t> has_video_sample{0};
  std::atomic<uint32_t> write_failed{0};
  std::atomic<int64_t> audio_end_time{0};  // 100-ns units

  // The worker. `worker_running` stands for "the thread handle exists": set
  // when the thread starts, cleared when recording stop has joined it.
  std::thread worker_thread;
  std::atomic<uint32_t> worker_running{0};
  std::atomic<uint32_t> worker_exited{0};
  std::unique_ptr<AutoResetEvent> wake_event;
  std::mutex lock;
  EncoderQueue video_queue;
  EncoderQueue audio_queue;

  std::atomic<uint32_t> accepting{0};
  std::atomic<uint32_t> stop_requested{0};
  std::atomic<uint32_t> finalize_ok{0};
  std::atomic<uint32_t> worker_done{0};
  std::atomic<uint32_t> stage{ENCODER_STAGE_IDLE};
  std::atomic<int64_t> last_activity{0};
  // Counter value when the queues last went from empty to non-empty; the
  // watchdog measures a stall from the later of this and last_activity.
  std::atomic<int64_t> queue_busy_since{0};

  std::atomic<uint64_t> stats_bytes{0};
  std::atomic<int64_t> stats_time{0};
  std::atomic<uint32_t> stats_valid{0};

  std::atomic<uint32_t> stop_timed_out{0};
  std::atomic<uint32_t> abandoned{0};
  std::atomic<uint64_t> time_base{0};

  std::unique_ptr<AudioTransform> resampler;
  MediaSample* audio_samples[kAudioPoolSize] = {};
  std::atomic<uint32_t> audio_free{0};
  MediaSample audio_input_sample;
  uint32_t audio_block_align = 0, audio_rate = 0;

  std::atomic<uint64_t> video_sample_wait_failures{0};
  std::atomic<uint64_t> video_duplicate_frames{0};
  std::atomic<uint64_t> video_stream_ticks{0};
  std::atomic<uint64_t> audio_backpressure_events{0};
  std::atomic<uint64_t> encoder_audio_dropped{0};
};
