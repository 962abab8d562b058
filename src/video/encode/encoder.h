#pragma once
// The encoder: set-up of one recording's writer, the producers' submissions,
// the worker that writes them, and finalisation.
#include <cstdint>
#include <string>

#include "video/encode/encoder_state.h"
#include "capture/image.h"

// Process start-up: the wake event and the two sample-return callbacks.
void encoder_init_process();

// Set-up for one recording (main thread). `device` is the capture's device;
// hardware encoders open its render node. False after showing a message, or
// silently when refused (a worker exists or one was abandoned).
bool encoder_setup(Encoder& encoder, const CaptureDevice& device, const std::string& path,
                   const EncoderConfig& config);

// Producers.
bool encoder_submit_video(const BgraImage& image, Rect content_rect, int64_t time, int64_t time_base);
// The same with the picture also on the graphics device (`picture`, may be
// empty): a device converter reads it there instead of from memory.
bool encoder_submit_video(const BgraImage& image, const GpuPicture& picture, Rect content_rect, int64_t time,
                          int64_t time_base);
bool encoder_submit_audio(const void* data, uint32_t frames, int64_t time, int64_t time_base);
bool encoder_enqueue(const EncoderItem& item);
uint32_t encoder_pending_count();

// Stop protocol (recording stop): no new work, finish the queued video,
// finalise. Then wait a bounded time for the worker; true when it ended, in
// which case its thread is joined and the record no longer has a worker.
void encoder_request_stop();
bool encoder_wait_worker(uint32_t timeout_ms);
// True while a worker thread exists (started and not yet joined).
bool encoder_has_worker();

// The worker procedure and its parts (the worker thread only).
void encoder_worker(Encoder* encoder);
void encoder_dispatch(Encoder& encoder, const EncoderItem& item);
bool encoder_finalize(Encoder& encoder);

void set_stage(Encoder& encoder, uint32_t value);
// "idle", "video.write_sample", … ; "idle" for unknown values.
const char* encoder_stage_name(uint32_t value);

// Rules of set-up, exposed for the tests and the diagnostics.
struct OutputSize {
  uint32_t width, height;
};
OutputSize encoder_output_size(uint32_t width, uint32_t height, uint32_t max_width, uint32_t max_height);
uint32_t encoder_gop_size(uint32_t frame_rate_num, uint32_t frame_rate_den);
bool encoder_hd_color(uint32_t output_width, uint32_t output_height, uint32_t video_codec);

// Clears the input picture to black (transparent).
void clear_input_texture(Encoder& encoder);

// Test hook: while set, every writer call the worker makes first waits until
// it is cleared (a writer stuck inside the platform).
void encoder_test_block_writer(bool block);

// Test hook: called with the path just before the writer creates the output
// file, after the recording's names were checked; tests plant files there to
// play the part of another user racing the recorder. Null when unused.
void encoder_test_before_create(void (*hook)(const std::string& path));
