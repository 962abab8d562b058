#include "recording/output_naming.h"

#include <cerrno>

#include "core/app_state.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "recording/folder_probe.h"

namespace {
bool fits(const std::string& path) { return utf16_length(path) <= kMaxPathUnits; }

// Start of the extension in the last path component, or npos. A leading dot
// names a hidden file rather than starting an extension, and a space after
// the last dot means the dot was part of the name ("take 1.5 final").
size_t extension_start(const std::string& path) {
  size_t name = path.rfind('/');
  name = name == std::string::npos ? 0 : name + 1;
  size_t dot = std::string::npos;
  for (size_t i = name; i < path.size(); ++i) {
    if (path[i] == ' ') dot = std::string::npos;
    else if (path[i] == '.' && i != name) dot = i;
  }
  return dot;
}
}  // namespace

bool ensure_folder(const std::string& path) {
  if (path.empty()) return false;
  if (directory_exists(path)) return true;
  if (path_entry_exists(path)) return false;
  return create_directories(path);
}

bool test_folder_writable(const std::string& folder, uint32_t* error) {
  uint32_t code = 0;
  bool ok = probe_folder_write(folder, &code);
  if (error) *error = ok ? 0 : code;
  return ok;
}

std::string system_error_text(uint32_t error) {
  std::string text = error_code_text(error);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  if (text.empty()) return "Unknown system error";
  return utf16_truncate(text, 255);
}

bool timestamp_names_fit(const std::string& folder) {
  // The first candidate's temporary name is the longest name that has to fit.
  return fits(path_join(folder, "20250101_120000.tmp.mp4"));
}

bool make_output_path(const std::string& folder, const LocalTime& t) {
  Recording& rec = g_app.recording;
  for (unsigned counter = 0; counter <= 999; ++counter) {
    std::string stem =
        counter == 0
            ? format_cut(128, "%04u%02u%02u_%02u%02u%02u", unsigned(t.year), unsigned(t.month), unsigned(t.day),
                         unsigned(t.hour), unsigned(t.minute), unsigned(t.second))
            : format_cut(128, "%04u%02u%02u_%02u%02u%02u_%03u", unsigned(t.year), unsigned(t.month),
                         unsigned(t.day), unsigned(t.hour), unsigned(t.minute), unsigned(t.second), counter);
    rec.output_path = path_join(folder, format_cut(160, "%s.mp4", stem.c_str()));
    rec.temp_path = path_join(folder, format_cut(160, "%s.tmp.mp4", stem.c_str()));
    // A folder so deep that the names do not fit cannot hold any candidate.
    if (!fits(rec.output_path) || !fits(rec.temp_path)) return false;
    if (!path_entry_exists(rec.output_path) && !path_entry_exists(rec.temp_path)) return true;
  }
  return false;
}

bool prepare_explicit_output() {
  std::string full = full_path_name(g_app.cli_output_path);
  if (full.empty() || !fits(full)) return false;

  // A trailing separator names a folder even when it does not exist yet.
  bool names_folder = full.size() > 1 && full.back() == '/';
  if (names_folder) full.pop_back();
  if (names_folder || directory_exists(full)) {
    if (!timestamp_names_fit(full) || !ensure_folder(full)) return false;
    return make_output_path(full, local_time_now());
  }

  std::string file = full;
  size_t ext = extension_start(file);
  if (ext == std::string::npos) {
    if (utf16_length(file) + 4 >= 260) return false;
    file += ".mp4";
    ext = file.size() - 4;
  }
  std::string folder = path_directory(file);
  if (folder.empty()) return false;
  // Both names are checked whole before any folder is made: a name that
  // cannot be used must not leave new folders behind.
  std::string temp = file.substr(0, ext) + ".tmp.mp4";
  if (!fits(temp)) return false;
  if (!ensure_folder(folder)) return false;
  if (path_entry_exists(file) || path_entry_exists(temp)) return false;
  g_app.recording.output_path = file;
  g_app.recording.temp_path = temp;
  return true;
}
