#include <memory>
#include <string>

#include "core/app_state.h"
#include "core/message_loop.h"
#include "core/ui_service.h"
#include "audio/audio_capture.h"
#include "audio/mixer.h"
#include "capture/capture.h"
#include "capture/capture_service.h"
#include "capture/device.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "core/desktop_session.h"
#include "recording/output_naming.h"
#include "recording/recording.h"
#include "core/trace.h"
#include "video/encode/encoder.h"
#include "video/intake/frame_intake.h"
#include "video/intake/governor.h"

namespace {
constexpr const char* kCannotStart = "Cannot Start Recording";
// What to do about an output folder that cannot be written, in the places
// of the system the user is on.
#ifdef _WIN32
constexpr const char* kUnwritableFolderAdvice =
    "If this is a OneDrive or protected folder, choose a local folder (for example "
    "C:\\Users\\<you>\\Videos\\Frelvanta) or allow Frelvanta through Windows Controlled Folder Access.";
#else
constexpr const char* kUnwritableFolderAdvice =
    "If this folder belongs to another user, is read-only or is on a drive that is no longer mounted, choose a "
    "folder of your own (for example ~/Videos/Frelvanta).";
#endif

void close_streams() {
  if (g_app.mic_capture.audio_client) {
    close_capture(&g_app.mic_capture);
    audio_capture_zero(&g_app.mic_capture);
  }
  if (g_app.system_capture.audio_client) {
    close_capture(&g_app.system_capture);
    audio_capture_zero(&g_app.system_capture);
  }
}

// The notification a target that cannot be recorded gets (the capture
// session is started only here, after the target was opened).
const char* capture_failure_text() {
  const Capture& c = g_app.capture;
  if (c.window != 0) return "Cannot record selected window!";
  Rect bounds;
  if (c.service != nullptr && c.service->monitor_rect(c.monitor, &bounds) &&
      c.crop.right - c.crop.left == bounds.right - bounds.left &&
      c.crop.bottom - c.crop.top == bounds.bottom - bounds.top) {
    return "Cannot record selected monitor!";
  }
  return "Cannot record monitor!";
}

// Undoes a finished encoder set-up when frame delivery cannot start: the
// worker finalises an empty file, which is then removed.
void abandon_setup() {
  encoder_request_stop();
  if (!encoder_wait_worker(4000)) {
    g_app.encoder.stop_timed_out.store(1);
    g_app.encoder.abandoned.store(1);
    g_app.skip_worker_join.store(1);
  }
  g_app.recording.temp_lock.unlock();
  delete_file(g_app.recording.temp_path);
  g_app.recording.temp_path.clear();
  close_streams();
}
}  // namespace

bool recording_start(std::shared_ptr<CaptureDevice> device, WindowId window) {
  Recording& rec = g_app.recording;
  const Config& cfg = g_app.config;

  auto common_exit = [&] {
    capture_stop(&g_app.capture);
    device.reset();
  };
  auto fail_tray = [&](const char* text) {
    show_tray_notification(text, kCannotStart, NOTIFY_WARNING);
    common_exit();
  };
  auto fail_message = [&](const std::string& text) {
    show_message(text, kCannotStart, MB_ICONWARNING);
    common_exit();
  };

  // 2. Output file.
  bool named = false;
  if (g_app.cli_output_path.empty()) {
    // A folder too deep for any name is refused before it is created.
    if (!cfg.OutputFolder.empty() && !timestamp_names_fit(cfg.OutputFolder)) {
      fail_tray("Cannot prepare output file path. Check output folder/path.");
      return false;
    }
    if (!ensure_folder(cfg.OutputFolder)) {
      fail_tray("Output folder does not exist and could not be created.");
      return false;
    }
    named = make_output_path(cfg.OutputFolder, local_time_now());
  } else {
    named = prepare_explicit_output();
  }
  if (!named) {
    fail_tray("Cannot prepare output file path. Check output folder/path.");
    return false;
  }

  // 3. From here on events also go beside the recording.
  set_stop_trace_for_output(rec.output_path);

  // 4.
  const std::string folder = path_directory(rec.output_path);
  if (folder.empty()) {
    fail_tray("Cannot prepare output folder. Check output folder/path.");
    return false;
  }

  // 5.
  uint32_t error = 0;
  if (!test_folder_writable(folder, &error)) {
    fail_message(format_cut(1024, "Output folder is not writable.\n\nFolder: %s\nError: %u (%s)\n\n%s", folder.c_str(),
                            error, system_error_text(error).c_str(), kUnwritableFolderAdvice));
    return false;
  }

  // 6. Disk guard.
  std::string guard_folder = cfg.OutputFolder;
  if (!g_app.cli_output_path.empty() && !folder.empty()) guard_folder = folder;
  if (cfg.EnableDiskGuard != 0 && cfg.MinFreeSpaceMB != 0) {
    uint64_t available = 0;
    if (free_space_bytes(guard_folder, &available) &&
        available < static_cast<uint64_t>(cfg.MinFreeSpaceMB) * 1048576ull) {
      fail_message(format_cut(256,
                              "Not enough free disk space to start recording.\n\nRequired free space: %u MB\n\n"
                              "Free some space or choose another output folder.",
                              cfg.MinFreeSpaceMB));
      return false;
    }
  }

  // 7-8. Frame rate and governor bounds.
  uint32_t display_num = 0, display_den = 0;
  const bool timing_ok = capture_display_rate(g_app.capture, &display_num, &display_den);
  const FrameRate rate = governor_rate_setup(timing_ok, display_num, display_den);

  // 9.
  EncoderConfig ec;
  const Rect& crop = g_app.capture.crop;
  ec.width = static_cast<uint32_t>(crop.right > crop.left ? crop.right - crop.left : 0);
  ec.height = static_cast<uint32_t>(crop.bottom > crop.top ? crop.bottom - crop.top : 0);
  ec.frame_rate_num = rate.num;
  ec.frame_rate_den = rate.den;
  ec.audio_format = nullptr;
  ec.config = &cfg;
  if (ec.width == 0 || ec.height == 0) {
    fail_tray("The selected window has no capture area. It may be minimized or off-screen.");
    return false;
  }

  // 10. Audio.
  audio_capture_zero(&g_app.system_capture);
  audio_capture_zero(&g_app.mic_capture);
  if (cfg.CaptureAudio != 0 || cfg.CaptureMicrophone != 0) {
    if (cfg.CaptureAudio != 0) {
      WindowId target = (cfg.ApplicationLocalAudio != 0 && application_audio_supported()) ? window : 0;
      // A backend that cannot tell the window's process (the screen-cast
      // portal) records the system sound instead of refusing the recording.
      if (target != 0 && !capture_window_process_known()) {
        trace_event("audio.application_process_unknown: recording the system sound");
        target = 0;
      }
      if (!open_loopback_capture(&g_app.system_capture, target)) {
        audio_capture_zero(&g_app.system_capture);
        fail_tray("Cannot capture audio!");
        return false;
      }
      ec.audio_format = g_app.system_capture.stream_format.get();
    }
    if (cfg.CaptureMicrophone != 0) {
      const bool system_open = g_app.system_capture.audio_client != nullptr;
      if (!open_microphone_capture(&g_app.mic_capture, cfg.MicrophoneDeviceId,
                                   system_open ? g_app.system_capture.stream_format.get() : nullptr)) {
        audio_capture_zero(&g_app.mic_capture);
        show_tray_notification("Microphone capture failed.", "Warning", NOTIFY_WARNING);
        if (!system_open) {
          common_exit();
          return false;
        }
      } else if (!system_open) {
        ec.audio_format = g_app.mic_capture.stream_format.get();
      }
    }
  }

  // 11. Encoder.
  if (!encoder_setup(g_app.encoder, device ? *device : CaptureDevice{}, rec.temp_path, ec)) {
    rec.temp_path.clear();
    close_streams();
    common_exit();
    return false;
  }
  // Recovery in another process leaves a locked file alone.
  rec.temp_lock.try_lock(rec.temp_path);

  // 12. Per-recording state, before the first frame or timer tick can see it.
  rec.begin(qpc_now(), g_app.qpc_frequency);
  intake_reset();
  audio_mixer_begin_recording();

  // 13. Frame delivery.
  rec.starting.store(1);
  if (!capture_start(&g_app.capture, cfg.MouseCursor != 0, cfg.ShowRecordingBorder != 0)) {
    rec.starting.store(0);
    abandon_setup();
    show_tray_notification(capture_failure_text(), "Error", NOTIFY_WARNING);
    common_exit();
    return false;
  }

  // 14. Timers.
  const bool audio_open = g_app.system_capture.audio_client || g_app.mic_capture.audio_client;
  MessageLoop* loop = g_app.main_window.load();
  if (loop && audio_open) loop->set_timer(TIMER_AUDIO_TICK, 50);
  if (loop) loop->set_timer(TIMER_WATCHDOG_TICK, 100);
  trace_eventf("timer.video_set ret=%llu", loop ? static_cast<unsigned long long>(TIMER_WATCHDOG_TICK) : 0ull);

  // 15-16.
  rec.active.store(1);
  rec.starting.store(0);

  // 17. No sleep while recording (the display may still turn off).
  if (g_desktop_session) g_desktop_session->keep_awake(true);

  // 18-19.
  trace_event("recording.started");
  device.reset();
  return true;
}
