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

void report_tray(const char* text) { show_tray_notification(text, kCannotStart, NOTIFY_WARNING); }
void report_box(const std::string& text) { show_message(text, kCannotStart, MB_ICONWARNING); }

// What the phases of a start hand on to the next one.
struct StartPlan {
  std::string folder;  // the output file's folder
  EncoderConfig encoder;
};

// The output file's name, from the command line or from the configured
// folder and the time. From here on events also go beside the recording.
bool name_output() {
  const Config& cfg = g_app.config;
  bool named = false;
  if (g_app.cli_output_path.empty()) {
    // A folder too deep for any name is refused before it is created.
    if (!cfg.OutputFolder.empty() && !timestamp_names_fit(cfg.OutputFolder)) {
      report_tray("Cannot prepare output file path. Check output folder/path.");
      return false;
    }
    if (!ensure_folder(cfg.OutputFolder)) {
      report_tray("Output folder does not exist and could not be created.");
      return false;
    }
    named = make_output_path(cfg.OutputFolder, local_time_now());
  } else {
    named = prepare_explicit_output();
  }
  if (!named) {
    report_tray("Cannot prepare output file path. Check output folder/path.");
    return false;
  }
  set_stop_trace_for_output(g_app.recording.output_path);
  return true;
}

// The file's folder exists and takes new files.
bool check_output_folder(StartPlan& plan) {
  plan.folder = path_directory(g_app.recording.output_path);
  if (plan.folder.empty()) {
    report_tray("Cannot prepare output folder. Check output folder/path.");
    return false;
  }
  uint32_t error = 0;
  if (!test_folder_writable(plan.folder, &error)) {
    report_box(format_cut(1024, "Output folder is not writable.\n\nFolder: %s\nError: %u (%s)\n\n%s",
                          plan.folder.c_str(), error, system_error_text(error).c_str(), kUnwritableFolderAdvice));
    return false;
  }
  return true;
}

// The disk guard: the configured folder (or the command line's) keeps the
// configured free space.
bool check_free_space(const StartPlan& plan) {
  const Config& cfg = g_app.config;
  std::string guard_folder = cfg.OutputFolder;
  if (!g_app.cli_output_path.empty() && !plan.folder.empty()) guard_folder = plan.folder;
  if (cfg.EnableDiskGuard == 0 || cfg.MinFreeSpaceMB == 0) return true;
  uint64_t available = 0;
  if (free_space_bytes(guard_folder, &available) &&
      available < static_cast<uint64_t>(cfg.MinFreeSpaceMB) * 1048576ull) {
    report_box(format_cut(256,
                          "Not enough free disk space to start recording.\n\nRequired free space: %u MB\n\n"
                          "Free some space or choose another output folder.",
                          cfg.MinFreeSpaceMB));
    return false;
  }
  return true;
}

// Frame rate (which also sets the governor's bounds) and the captured size.
bool describe_video(StartPlan& plan) {
  uint32_t display_num = 0, display_den = 0;
  const bool timing_ok = capture_display_rate(g_app.capture, &display_num, &display_den);
  const FrameRate rate = governor_rate_setup(timing_ok, display_num, display_den);

  EncoderConfig& ec = plan.encoder;
  const Rect& crop = g_app.capture.crop;
  ec.width = static_cast<uint32_t>(crop.right > crop.left ? crop.right - crop.left : 0);
  ec.height = static_cast<uint32_t>(crop.bottom > crop.top ? crop.bottom - crop.top : 0);
  ec.frame_rate_num = rate.num;
  ec.frame_rate_den = rate.den;
  ec.audio_format = nullptr;
  ec.config = &g_app.config;
  if (ec.width == 0 || ec.height == 0) {
    report_tray("The selected window has no capture area. It may be minimized or off-screen.");
    return false;
  }
  return true;
}

// The sound streams the settings ask for; the encoder's audio track takes
// the system stream's format, else the microphone's. A microphone that
// cannot be opened is a warning while the system sound records.
bool open_audio(StartPlan& plan, WindowId window) {
  const Config& cfg = g_app.config;
  audio_capture_zero(&g_app.system_capture);
  audio_capture_zero(&g_app.mic_capture);
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
      report_tray("Cannot capture audio!");
      return false;
    }
    plan.encoder.audio_format = g_app.system_capture.stream_format.get();
  }
  if (cfg.CaptureMicrophone != 0) {
    const bool system_open = g_app.system_capture.audio_client != nullptr;
    if (!open_microphone_capture(&g_app.mic_capture, cfg.MicrophoneDeviceId,
                                 system_open ? g_app.system_capture.stream_format.get() : nullptr)) {
      audio_capture_zero(&g_app.mic_capture);
      show_tray_notification("Microphone capture failed.", "Warning", NOTIFY_WARNING);
      if (!system_open) return false;
    } else if (!system_open) {
      plan.encoder.audio_format = g_app.mic_capture.stream_format.get();
    }
  }
  return true;
}

// The encoder opens the temporary file; set-up reports its own failures.
bool set_up_encoder(const StartPlan& plan, const CaptureDevice& device) {
  Recording& rec = g_app.recording;
  if (!encoder_setup(g_app.encoder, device, rec.temp_path, plan.encoder)) {
    rec.temp_path.clear();
    close_streams();
    return false;
  }
  // Recovery in another process leaves a locked file alone.
  rec.temp_lock.try_lock(rec.temp_path);
  return true;
}

// The capture session starts delivering frames, after the per-recording
// state was reset (before the first frame or timer tick can see it). When it
// cannot start, the encoder set-up is undone.
bool start_frame_delivery() {
  Recording& rec = g_app.recording;
  rec.begin(qpc_now(), g_app.qpc_frequency);
  intake_reset();
  audio_mixer_begin_recording();
  rec.starting.store(1);
  if (!capture_start(&g_app.capture, g_app.config.MouseCursor != 0, g_app.config.ShowRecordingBorder != 0)) {
    rec.starting.store(0);
    abandon_setup();
    show_tray_notification(capture_failure_text(), "Error", NOTIFY_WARNING);
    return false;
  }
  return true;
}

// Timers, the running flag, no sleep while recording (the display may
// still turn off).
void go_live() {
  Recording& rec = g_app.recording;
  const bool audio_open = g_app.system_capture.audio_client || g_app.mic_capture.audio_client;
  MessageLoop* loop = g_app.main_window.load();
  if (loop && audio_open) loop->set_timer(TIMER_AUDIO_TICK, 50);
  if (loop) loop->set_timer(TIMER_WATCHDOG_TICK, 100);
  trace_eventf("timer.video_set ret=%llu", loop ? static_cast<unsigned long long>(TIMER_WATCHDOG_TICK) : 0ull);
  rec.active.store(1);
  rec.starting.store(0);
  if (g_desktop_session) g_desktop_session->keep_awake(true);
  trace_event("recording.started");
}
}  // namespace

bool recording_start(std::shared_ptr<CaptureDevice> device, WindowId window) {
  StartPlan plan;
  const bool started = name_output() && check_output_folder(plan) && check_free_space(plan) &&
                       describe_video(plan) && open_audio(plan, window) &&
                       set_up_encoder(plan, device ? *device : CaptureDevice{}) && start_frame_delivery();
  if (started) {
    go_live();
  } else {
    capture_stop(&g_app.capture);  // every failure has been reported by its phase
  }
  device.reset();
  return started;
}
