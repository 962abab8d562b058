// Process entry of the Windows build. It runs start-up in its fixed order as
// far as this build goes: capture and encoding come with a later Windows
// backend, so a recording request is answered with a plain statement that
// recording is not available, and the exit code of a capture that cannot start.
#include <windows.h>
#include <shellapi.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/command_line.h"
#include "app/startup.h"
#include "app/ui_service.h"
#include "app/win32/main_window_win32.h"
#include "app/win32/ui_service_win32.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "platform/win32/wide.h"
#include "recording/recovery.h"
#include "recording/trace.h"
#include "settings/config_store.h"
#include "settings/win32/dialog_host_win32.h"

// Asks NVIDIA Optimus drivers to run the process on the discrete GPU.
extern "C" __declspec(dllexport) const DWORD NvOptimusEnablement = 1;

namespace {
constexpr char kNotAvailable[] = "Recording is not available in this build yet.";

// The system's own splitting; an empty vector when it fails, which means
// interactive mode.
std::vector<std::string> command_line_arguments() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  if (!argv) return args;
  for (int i = 0; i < count; ++i) args.push_back(to_utf8(argv[i]));
  LocalFree(argv);
  return args;
}

[[noreturn]] void exit_process(int code) { ExitProcess(static_cast<UINT>(code)); }
}  // namespace

int main() {
  g_app.exit_code = 0;
  if (!parse_command_line(command_line_arguments())) exit_process(g_app.exit_code != 0 ? g_app.exit_code : 1);

  if (!g_app.cli_mode && hand_over_to_running_instance()) exit_process(0);

  static Win32UiService ui;
  g_ui_service = &ui;
  install_win32_dialog_host();

  if (!platform_supported()) {
    show_message("Windows 10 Version 1903, May 2019 Update (19H1) or newer is required!", "Frelvanta",
                 MB_ICONWARNING);
    exit_process(g_app.cli_mode ? 1 : 0);
  }

  // The INI and the run trace lie beside the executable, under its name.
  g_app.ini_path = choose_ini_location(executable_path(), true, "", "").ini_path;
  set_run_trace_folder("");
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  load_configuration();
  if (g_app.cli_mode) {
    AttachConsole(ATTACH_PARENT_PROCESS);
    apply_command_line_overrides();
  }
  recover_unfinished_recordings();
  g_app.qpc_frequency = kQpcFrequency;

  HWND main = create_main_window(g_app.cli_mode);
  if (!main) exit_process(0);

  if (g_app.cli_mode) {
    if (g_app.cli_minimize) ShowWindow(main, SW_MINIMIZE);
    show_message(kNotAvailable, "Frelvanta", MB_ICONERROR);
    g_app.exit_code = 2;
    DestroyWindow(main);
    exit_process(g_app.exit_code);
  }

  // The interactive instance has no tray icon yet: it tells the user once
  // and ends. While the notice is open it is the running instance that a
  // second start hands over to.
  show_message(kNotAvailable, "Frelvanta", MB_ICONINFORMATION);
  if (main_window_handle()) DestroyWindow(main);
  run_message_loop();
  exit_process(g_app.exit_code);
}
