#pragma once
// The process-wide state block. Each group is written by the subsystem named
// beside it; the records themselves live in their subsystems' headers.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/shell_state.h"
#include "audio/audio_state.h"
#include "capture/capture_state.h"
#include "platform/event.h"
#include "recording/recording_state.h"
#include "settings/config.h"
#include "video/encode/encoder_state.h"
#include "video/intake/intake_state.h"

class MessageLoop;

enum CaptureMode : uint32_t { CAPTURE_NONE = 0, CAPTURE_WINDOW = 1, CAPTURE_MONITOR = 2, CAPTURE_REGION = 3 };

struct App {
  // Process (start-up; exit_code also command line and recording stop).
  int exit_code = 0;
  bool cli_mode = false;
  std::string ini_path;
  std::atomic<MessageLoop*> main_window{nullptr};  // the main thread's loop; set once at start-up

  // Command-line values.
  CaptureMode cli_capture_mode = CAPTURE_NONE;
  uint32_t cli_duration_sec = 0;
  std::string cli_output_path;
  bool cli_audio_given = false;
  bool cli_audio = false;
  bool cli_mic_given = false;
  bool cli_mic = false;
  bool cli_minimize = false;

  // Configuration.
  Config config;

  // Timing.
  int64_t qpc_frequency = 0;

  // Worker plumbing.
  std::mutex audio_lock;
  std::mutex video_lock;
  std::unique_ptr<AutoResetEvent> audio_wake_event;
  std::thread audio_thread;
  std::atomic<uint32_t> audio_quit{0};
  std::atomic<uint32_t> audio_tick_pending{0};
  std::unique_ptr<AutoResetEvent> watchdog_wake_event;
  std::thread watchdog_thread;
  std::atomic<uint32_t> watchdog_quit{0};
  std::atomic<uint32_t> watchdog_tick_pending{0};
  std::atomic<uint32_t> skip_worker_join{0};
  // The connection to the display server broke (capture or toolkit); a
  // command-line recording then ends with exit code 3.
  std::atomic<uint32_t> display_lost{0};

  // Names of the shortcuts whose last registration was refused, joined by ", ".
  std::string shortcut_conflicts;
  // The desktop session offers no global shortcuts: the tray menu carries
  // the capture and pause items instead.
  bool shortcuts_unavailable = false;

  // Capture targets: set while a capture request runs (shortcuts are ignored).
  uint32_t capture_request_active = 0;

  // The region overlay and the start countdown (interactive shell).
  RegionOverlay overlay;
  Countdown countdown;

  // Recording, encoder, frame intake, audio, capture.
  Recording recording;
  Encoder encoder;
  FrameIntake intake;
  Governor governor;
  AudioCapture system_capture;
  AudioCapture mic_capture;
  AudioMixer mixer;
  Capture capture;
};

extern App g_app;

// Puts the block back to its start-up state (tests only; no thread may be
// using it).
void app_reset();
