#include "core/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "core/app_state.h"
#include "core/ui_service.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "core/trace_file.h"

namespace {
constexpr const char* kRunTraceName = "frelvanta-runtrace.txt";
constexpr uint64_t kRotateAbove = 4194304;
constexpr size_t kLineUnits = 256;  // including the terminator
constexpr size_t kLineBytes = 512;  // UTF-8, including the terminator
constexpr size_t kPathUnits = 260;  // including the terminator

std::mutex g_folder_mutex;
std::string g_folder;  // empty: beside the executable

// Serialises rotation and the write of a line within the process. Without
// it two threads can both find the file too large and the second rename
// replaces the just-rotated generation with a one-line file.
std::mutex g_append_mutex;

std::string_view until_nul(std::string_view text) {
  size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}
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
    // A path that does not fit whole is not used (it would be a cut path).
    if (exe.empty() || utf16_length(exe) >= kPathUnits) return {};
    folder = path_directory(exe);
    if (folder.empty()) return {};
  }
  std::string path = path_join(folder, kRunTraceName);
  if (utf16_length(path) >= kPathUnits) return {};
  return path;
}

void set_stop_trace_for_output(const std::string& output_path) {
  if (output_path.empty()) {
    g_app.recording.stop_trace_path.clear();
    return;
  }
  g_app.recording.stop_trace_path = utf16_truncate(output_path + ".stoptrace.txt", kPathUnits - 1);
}

void append_trace_line(const std::string& path, std::string_view text) {
  if (path.empty()) return;
  TraceFile file;
  {
    std::lock_guard<std::mutex> lock(g_append_mutex);
    uint64_t size = 0;
    if (file_size(path, &size) && size > kRotateAbove && utf16_length(path) + 4 < kPathUnits) {
      move_file(path, path + ".old", true);  // on failure the line goes to the large file
    }
    if (!file.open_append(path)) return;
    // The counter is read inside the lock, so within one process the lines
    // of a file are in counter order.
    std::string line = std::to_string(static_cast<unsigned long long>(qpc_now()));
    line += ' ';
    // Event texts carry names from the file system; a line break in one
    // must not end the line early or start a forged one.
    line += escape_control_chars(until_nul(text));
    // Cut at the end of the text so the line still ends with CR LF.
    if (utf16_length(line) > kLineUnits - 3) line = utf16_truncate(line, kLineUnits - 3);
    line += "\r\n";
    if (line.size() + 1 > kLineBytes) return;  // dropped whole, never half
    if (!file.write(line)) return;
  }
  // Waiting for the disk outside the lock keeps other threads' events from
  // queueing behind this one's flush.
  file.sync_and_close();
}

namespace {
// The settings dialog may change the flag while other threads trace.
bool diagnostics_on() {
  return std::atomic_ref<uint32_t>(g_app.config.WriteDiagnostics).load(std::memory_order_relaxed) != 0;
}
}  // namespace

void trace_event(std::string_view text) {
  if (!diagnostics_on()) return;
  append_trace_line(run_trace_path(), text);
  std::string stop = g_app.recording.stop_trace_path.get();
  if (!stop.empty() && utf16_length(stop) < kPathUnits) append_trace_line(stop, text);
}

void trace_eventf(const char* fmt, ...) {
  if (!diagnostics_on()) return;
  // 255 units need at most 765 bytes of UTF-8, so this buffer never cuts
  // what the line could hold.
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  trace_event(utf16_truncate(buf, kLineUnits - 1));
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
  if (g_app.cli_mode) {
    // No tray in a command-line run, but the reason a run fails must still
    // reach the user: the same text goes to the console.
    console_write_line(format_cut(2048, "%s: %s", caption.empty() ? "Frelvanta" : caption.c_str(), text.c_str()));
    return 0;
  }
  if (!g_ui_service) return 0;
  return g_ui_service->tray_notification(utf16_truncate(text, 255),
                                         utf16_truncate(caption.empty() ? "Frelvanta" : caption, 63), kind);
}
