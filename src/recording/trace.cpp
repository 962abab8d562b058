#include "recording/trace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "app/app_state.h"
#include "app/ui_service.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {
std::mutex g_folder_mutex;
std::string g_folder;  // empty: beside the executable
}  // namespace

void set_run_trace_folder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(g_folder_mutex);
  g_folder = folder;
}

std::string run_trace_path() {
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(g_folder_mutex);
    folder = g_folder;
  }
  if (folder.empty()) {
    std::string exe = executable_path();
    if (exe.empty() || utf16_length(exe) >= 260) return {};
    folder = path_directory(exe);
  }
  return path_join(folder, "frelvanta-runtrace.txt");
}

void append_trace_line(const std::string& path, std::string_view text) {
  if (path.empty()) return;
  uint64_t size = 0;
  if (file_size(path, &size) && size > 4194304 && utf16_length(path) + 4 < 260) {
    move_file(path, path + ".old", true);
  }
  std::string line = format_cut(256, "%llu %.*s\r\n", static_cast<unsigned long long>(qpc_now()),
                                static_cast<int>(text.size()), text.data());
  if (line.size() + 1 > 512) return;
  append_file(path, line, true);
}

void trace_event(std::string_view text) {
  if (g_app.config.WriteDiagnostics == 0) return;
  append_trace_line(run_trace_path(), text);
  const std::string& stop = g_app.recording.stop_trace_path;
  if (!stop.empty() && utf16_length(stop) < 260) append_trace_line(std::string(stop), text);
}

void trace_eventf(const char* fmt, ...) {
  if (g_app.config.WriteDiagnostics == 0) return;
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  trace_event(utf16_truncate(buf, 255));
}

int show_message(const std::string& text, const std::string& caption, uint32_t type) {
  if (!g_app.cli_mode) {
    return g_ui_service ? g_ui_service->message_box(text, caption, type) : IDOK;
  }
  console_write_line(format_cut(2048, "%s: %s", caption.c_str(), text.c_str()));
  trace_event(format_cut(256, "cli.message caption=%s", caption.c_str()));
  return IDOK;
}

int show_tray_notification(const std::string& text, const std::string& caption, int kind) {
  if (!g_ui_service) return 0;
  return g_ui_service->tray_notification(utf16_truncate(text, 255),
                                         utf16_truncate(caption.empty() ? "Frelvanta" : caption, 63), kind);
}
