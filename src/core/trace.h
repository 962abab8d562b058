#pragma once
// The run trace and the user-message helpers every subsystem reports through.
#include <cstdint>
#include <string>
#include <string_view>

// Appends "<ticks> <text>\r\n" (UTF-8) to the run trace and, when set, to the
// current recording's stop trace. Does nothing, and touches no file, while
// WriteDiagnostics is off. Safe from any thread; every failure is silent.
// The text ends at its first NUL; control characters in it are written as
// "\xHH" (see escape_control_chars); a line longer than 255 UTF-16 units is cut
// at the end of the text and keeps its CR LF; a line needing more than 511
// UTF-8 bytes is dropped.
void trace_event(std::string_view text);
// printf-style event text, cut to 255 UTF-16 units, then trace_event.
void trace_eventf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The per-file step of trace_event: moves the file to "<path>.old" first when
// it is larger than 4 MiB (and that name fits), then appends one line and
// waits until it is on the disk. Nothing for an empty path.
void append_trace_line(const std::string& path, std::string_view text);

// Where the run trace goes: "frelvanta-runtrace.txt" beside the executable,
// or in the folder set by set_run_trace_folder (empty: beside the
// executable). Empty when the path does not fit in 259 UTF-16 units.
std::string run_trace_path();
void set_run_trace_folder(const std::string& folder);

// Recording start: the stop trace becomes "<output_path>.stoptrace.txt"
// (cut to 259 units), or none for an empty output path. It stays set after
// the recording ends, until the next start replaces it.
void set_stop_trace_for_output(const std::string& output_path);

// Blocking message: a message box when interactive; in a command-line run
// "caption: text" on the console plus a "cli.message caption=..." event, and
// the result is always IDOK. Main thread.
int show_message(const std::string& text, const std::string& caption, uint32_t type);
// Balloon on the tray icon; an empty caption means "Frelvanta". In a
// command-line run, which has no tray, "caption: text" on the console
// instead. Main thread.
int show_tray_notification(const std::string& text, const std::string& caption, int kind);
