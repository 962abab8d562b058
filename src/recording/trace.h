#pragma once
// The run trace and the user-message helpers every subsystem reports through.
#include <string>
#include <string_view>

// Appends "<ticks> <text>\r\n" to the run trace and, when set, to the current
// recording's stop trace. Does nothing while diagnostics are off. Any thread.
void trace_event(std::string_view text);
// Formats into a buffer of `capacity` UTF-16 units (cut at the end), then traces.
void trace_eventf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// One line to one file: rotate above 4 MiB, append, flush to disk.
void append_trace_line(const std::string& path, std::string_view text);

// Where the run trace goes (beside the executable, or the user's state folder).
std::string run_trace_path();
void set_run_trace_folder(const std::string& folder);

// Blocking message: a message box when interactive, "caption: text" on the
// console (and a cli.message event) in a command-line run. Main thread.
int show_message(const std::string& text, const std::string& caption, uint32_t type);
// Balloon on the tray icon; caption empty means "Frelvanta". Main thread.
int show_tray_notification(const std::string& text, const std::string& caption, int kind);
