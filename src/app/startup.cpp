#include "app/startup.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

#include "core/app_state.h"
#include "app/recording_control.h"
#include "app/command_line.h"
#include "app/main_window.h"
#include "app/countdown.h"
#include "app/settings_entry.h"
#include "recording/watchdog.h"
#include "app/shortcuts.h"
#include "app/single_instance.h"
#include "app/toolkit.h"
#include "core/ui_service.h"
#include "audio/audio_worker.h"
#include "app/capture_request.h"
#include "capture/device.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/display_session.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "platform/text.h"
#include "core/desktop_session.h"
#include "recording/recording.h"
#include "recording/recovery.h"
#include "core/trace.h"
#include "settings/config_store.h"
#include "video/encode/encoder.h"
#include "platform/thread.h"

namespace {
std::atomic<bool> g_termination_requested{false};
std::thread::id g_main_thread;

// The process ends through main() with _Exit, so exit() runs only when a
// library ends the process itself: the toolkit does when its connection to
// the display server breaks (the X server crashed or the session ended).
// Static destruction would then meet running threads (std::terminate) and
// waits that never end, and the recording would stay a temporary file. It
// is finished and saved here instead, without the toolkit, and the process
// ends at once.
void on_library_exit() {
  g_app.display_lost.store(1);
  trace_event("app.display_lost");
  g_ui_service = nullptr;
  g_desktop_session = nullptr;
  if (std::this_thread::get_id() == g_main_thread && g_app.recording.active.load() != 0) stop_recording();
  int code = g_app.exit_code;
  // A command-line recording cut short by the loss never ended cleanly.
  if (g_app.cli_mode && code == 0 && g_app.recording.temp_path.empty() == false) code = 3;
  std::fflush(nullptr);
  _exit(code);
}

// Every request starts the shutdown (again, if an earlier one came while the
// window was busy); only one that finds the recording already saved ends the
// process at once. Before the main window exists nothing can be recording,
// so a repeated request ends a start-up that hangs (a display that does not
// answer) at once as well.
bool on_termination_request() {
  const bool repeated = g_termination_requested.exchange(true);
  if (repeated && g_app.main_window.load() == nullptr) return true;
  return request_termination();
}

// Releases, in this order, whichever of the worker handles exist. A thread
// that already runs is left to the process exit; the event it waits on must
// outlive it, so that event is let go of rather than destroyed.
void release_worker_handles() {
  if (g_app.audio_thread.joinable()) {
    g_app.audio_thread.detach();
    (void)g_app.audio_wake_event.release();
  }
  g_app.audio_wake_event.reset();
  if (g_app.watchdog_thread.joinable()) {
    g_app.watchdog_thread.detach();
    (void)g_app.watchdog_wake_event.release();
  }
  g_app.watchdog_wake_event.reset();
}

bool start_thread(std::thread* thread, int (*proc)()) {
  return thread_start(thread, [proc] { proc(); });
}

int watchdog_proc() { return static_cast<int>(watchdog_worker()); }
}  // namespace

bool start_worker_threads() {
  g_app.audio_quit = 0;
  g_app.audio_tick_pending.exchange(0);
  g_app.watchdog_quit = 0;
  g_app.watchdog_tick_pending.exchange(0);

  bool ok = true;
  g_app.audio_wake_event.reset(new (std::nothrow) AutoResetEvent);
  ok = g_app.audio_wake_event && start_thread(&g_app.audio_thread, audio_worker);
  if (ok) {
    g_app.watchdog_wake_event.reset(new (std::nothrow) AutoResetEvent);
    ok = g_app.watchdog_wake_event && start_thread(&g_app.watchdog_thread, watchdog_proc);
  }
  if (!ok) {
    release_worker_handles();
    return false;
  }
  return true;
}

void stop_worker_threads() {
  g_app.audio_quit = 1;
  g_app.watchdog_quit = 1;
  if (g_app.audio_wake_event) g_app.audio_wake_event->set();
  if (g_app.watchdog_wake_event) g_app.watchdog_wake_event->set();
  if (g_app.audio_thread.joinable()) g_app.audio_thread.join();
  if (g_app.watchdog_thread.joinable()) g_app.watchdog_thread.join();
  g_app.audio_wake_event.reset();
  g_app.watchdog_wake_event.reset();
}

int app_main(const std::vector<std::string>& args) {
  g_app.exit_code = 0;
  if (!parse_command_line(args)) return g_app.exit_code != 0 ? g_app.exit_code : 1;

  // Every thread started from here on inherits the blocked termination
  // signals; one watcher turns them into a normal shutdown.
  block_termination_requests();
  watch_termination_requests(on_termination_request);

  // The single interactive instance. A command-line run never takes part,
  // so it can run beside an interactive instance and other command-line runs.
  if (!g_app.cli_mode && claim_single_instance(runtime_directory()) == InstanceClaim::HANDED_OVER) return 0;

  bool display = toolkit_init();
  g_main_thread = std::this_thread::get_id();
  std::atexit(on_library_exit);
  if (display && !g_app.cli_mode) {
    toolkit_install_ui_service();
    install_settings_dialog_services();
  }

  if (!platform_supported()) {
    show_message("Windows 10 Version 1903, May 2019 Update (19H1) or newer is required!", "Frelvanta",
                 MB_ICONWARNING);
    return g_app.cli_mode ? 1 : 0;
  }

  IniLocation where = locate_ini_for_process();
  g_app.ini_path = where.ini_path;
  set_run_trace_folder(where.trace_folder);
  load_configuration(hardware_encoder_default);
  if (where.in_user_folder && !file_exists(g_app.ini_path)) config_create_user_file(g_app.config);
  if (g_app.cli_mode) {
    console_attach();
    apply_command_line_overrides();
  }

  recover_unfinished_recordings();
  capture_runtime_init();
  encoder_init_process();
  // mic_capture and the other audio records start zeroed with App.
  g_app.qpc_frequency = kQpcFrequency;

  if (!start_worker_threads()) {
    show_message("Cannot initialize background worker threads!", "Frelvanta", MB_ICONERROR);
    return 1;
  }

  // The main window. Without a display the interactive instance has no
  // window to create (a command-line run needs none to record).
  std::unique_ptr<MessageLoop> loop;
  if (display || g_app.cli_mode) loop = toolkit_create_message_loop();
  if (!display && !g_app.cli_mode) {
    console_write_line(
        "Frelvanta: no usable display: neither DISPLAY (X11) nor WAYLAND_DISPLAY names a desktop this "
        "program can open; the tray instance cannot start.");
  }
  if (!loop) return 0;
  g_app.main_window = loop.get();
  toolkit_install_desktop_session();
  if (display) toolkit_install_shell_window();
  main_window_created();
  if (g_termination_requested) post_main_window_message(MSG_TERMINATION_REQUEST, 0, 0);

  if (!g_app.cli_mode) {
    listen_for_other_instances();
    if (!toolkit_install_hotkeys()) shortcuts_unavailable();
    if (!register_shortcuts()) report_shortcut_conflicts();
    // A Wayland session without the screen-cast portal cannot record: the
    // user hears so at start rather than at the first shortcut.
    if (const char* reason = capture_unavailable_reason(); reason != nullptr && wayland_session())
      show_tray_notification(reason, "Frelvanta", NOTIFY_WARNING);
  } else {
    // A command-line run shows no window on Linux, so --minimize changes
    // nothing here; the Windows main window applies it when it is created.
    capture_by_mode(g_app.cli_capture_mode);
    if (g_app.recording.active.load() == 0 && !region_selection_pending()) {
      g_app.exit_code = 2;
      post_main_window_message(WM_CLOSE, 0, 0);
    }
  }

  loop->run();
  // The loop is kept: other threads may still post to it until the process ends.
  loop.release();
  return g_app.exit_code;
}
