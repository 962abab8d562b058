#include "recording/recovery.h"

#include <filesystem>
#include <vector>

#include "core/app_state.h"
#include "core/ui_service.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "recording/folder_probe.h"
#include "core/trace.h"

namespace {
constexpr const char* kLogName = "RECOVERED-RECORDINGS.txt";
constexpr const char kLogHeader[] =
    "Frelvanta recovered recordings\r\n"
    "This file lists recordings that were still unfinished when Frelvanta last closed.\r\n"
    "They have been renamed so they can be played; nothing was deleted.\r\n"
    "\r\n";
constexpr uint64_t kMinRecoverableSize = 1024;
constexpr size_t kProbeBytes = 65536;
constexpr int64_t kInUseWindow100ns = 100'000'000;  // ten seconds
constexpr size_t kListed = 12;
constexpr uint32_t kMessageSetForeground = 0x00010000;
constexpr const char* kTempSuffix = ".tmp.mp4";

uint32_t be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint64_t be64(const uint8_t* p) { return (uint64_t(be32(p)) << 32) | be32(p + 4); }

bool has_temp_suffix(const std::string& name) {
  size_t n = std::char_traits<char>::length(kTempSuffix);
  return name.size() >= n && equals_ignore_case(std::string_view(name).substr(name.size() - n), kTempSuffix);
}
}  // namespace

bool mp4_prefix_is_crash_safe(const uint8_t* data, size_t size) {
  bool seen_ftyp = false;
  size_t offset = 0;
  while (size >= 8 && offset <= size - 8) {
    uint64_t box = be32(data + offset);
    uint64_t header = 8;
    if (box == 1) {
      if (size < 16 || offset > size - 16) return false;
      box = be64(data + offset + 8);
      header = 16;
    } else if (box == 0) {
      box = size - offset;
    }
    if (box < header) return false;
    const uint8_t* type = data + offset + 4;
    if (type[0] == 'f' && type[1] == 't' && type[2] == 'y' && type[3] == 'p') seen_ftyp = true;
    if (type[0] == 'm' && type[1] == 'o' && type[2] == 'o' && type[3] == 'f') return seen_ftyp;
    // Compared before adding: a 64-bit size near the top of the range must
    // not wrap the offset back into the data.
    if (box > size - offset) return false;
    offset += static_cast<size_t>(box);
  }
  return false;
}

bool is_crash_safe_mp4(const std::string& path) {
  uint64_t size = 0;
  if (!file_size(path, &size) || size < kMinRecoverableSize) return false;
  std::string bytes;
  if (!read_file_prefix(path, kProbeBytes, &bytes) || bytes.size() < 16) return false;
  return mp4_prefix_is_crash_safe(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool recording_file_in_use(const std::string& path) {
  if (!regular_file_opens_read_write(path)) return true;
  if (file_is_locked(path)) return true;
  int64_t written = 0;
  if (!last_write_time(path, &written)) return false;
  int64_t now = wall_clock_100ns();
  return now > written && now - written < kInUseWindow100ns;
}

void append_recovery_log(const std::string& folder, const std::string& entry) {
  if (utf16_length(folder) + 24 + 2 >= 260) return;
  std::string path = path_join(folder, kLogName);
  LocalTime t = local_time_now();
  // Entries carry file names, which may hold line breaks: escaped, a name
  // cannot end its line and forge another entry.
  std::string line = format_cut(1024, "%04u-%02u-%02u %02u:%02u:%02u  %s\r\n", unsigned(t.year), unsigned(t.month),
                                unsigned(t.day), unsigned(t.hour), unsigned(t.minute), unsigned(t.second),
                                escape_control_chars(entry).c_str());
  // The line is converted into a 2,048-byte buffer; a line that does not fit
  // there (with its terminator) is not written at all rather than half.
  if (line.size() + 1 > 2048) line.clear();
  // The header goes in when the opened file is empty, decided on the file
  // itself rather than on a name that may change in between.
  const std::string header = kLogHeader;
  append_file(path, line, true, &header);
}

void recover_unfinished_recordings() {
  const std::string folder = g_app.config.OutputFolder;
  if (folder.empty() || !directory_exists(folder) || utf16_length(folder) + 12 >= 260) return;
  const size_t folder_units = utf16_length(folder);

  std::error_code ec;
  // Paths are UTF-8 inside; a narrow path object would take the system's
  // code page on Windows, so the folder and the names are converted as UTF-8.
  std::filesystem::directory_iterator it(std::filesystem::path(std::u8string(folder.begin(), folder.end())), ec);
  if (ec) return;

  int64_t log_time = 0;
  if (folder_units + 24 + 2 < 260) {
    // Only a real log counts as the mark: a link planted at its name must
    // not lend another file's time.
    int64_t t = 0;
    if (regular_file_info(path_join(folder, kLogName), nullptr, &t)) log_time = t;
  }

  int recovered = 0, failed = 0, unrecoverable = 0, in_use = 0;
  std::vector<std::string> recovered_paths, unrecoverable_names;

  // The names are collected before anything is renamed, so a new name that
  // itself ends in ".tmp.mp4" (from "x.tmp.tmp.mp4") is not met again later
  // in the same scan.
  std::vector<std::string> names;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::u8string name8 = it->path().filename().u8string();
    std::string name(name8.begin(), name8.end());
    if (!has_temp_suffix(name)) continue;
    std::error_code type_ec;
    // Folders are skipped as the search does; so are pipes, sockets and
    // devices, which would block or mislead the readers below, and links,
    // which are not recordings of ours.
    if (it->symlink_status(type_ec).type() != std::filesystem::file_type::regular) continue;
    names.push_back(std::move(name));
  }

  for (const std::string& name : names) {
    if (folder_units + utf16_length(name) + 2 >= 260) {
      ++failed;
      continue;
    }
    const std::string path = path_join(folder, name);
    if (recording_file_in_use(path)) {
      ++in_use;
      continue;
    }
    uint64_t size = 0;
    bool have_size = file_size(path, &size);
    if (have_size && size >= kMinRecoverableSize && is_crash_safe_mp4(path)) {
      std::string base = path.substr(0, path.size() - 8);
      std::string target;
      for (int n = 0; n <= 99; ++n) {
        std::string candidate = n == 0 ? base + ".mp4" : base + "-recovered-" + std::to_string(n) + ".mp4";
        // A name cut to the path limit would lose its ".mp4"; such a
        // candidate is not usable.
        if (utf16_length(candidate) >= 260) continue;
        if (!path_entry_exists(candidate)) {
          target = candidate;
          break;
        }
      }
      if (target.empty() || !move_file(path, target, false)) {
        ++failed;
      } else {
        ++recovered;
        if (recovered_paths.size() < kListed) recovered_paths.push_back(target);
      }
      continue;
    }
    int64_t written = 0;
    if (last_write_time(path, &written) && written > log_time) {
      if (unrecoverable_names.size() < kListed) unrecoverable_names.push_back(name);
      ++unrecoverable;
    }
  }

  if (recovered == 0 && failed == 0 && unrecoverable == 0 && in_use == 0) return;

  for (const std::string& p : recovered_paths) append_recovery_log(folder, format_cut(1024, "recovered  %s", p.c_str()));
  if (recovered > static_cast<int>(recovered_paths.size())) {
    append_recovery_log(folder, format_cut(1024, "recovered  (%d more files)",
                                           recovered - static_cast<int>(recovered_paths.size())));
  }
  for (const std::string& n : unrecoverable_names) {
    append_recovery_log(folder, format_cut(1024, "unrecoverable  %s  (not crash-safe; left untouched)", n.c_str()));
  }
  if (unrecoverable > static_cast<int>(kListed)) {
    append_recovery_log(folder, format_cut(1024, "unrecoverable  (%d more files)", unrecoverable - int(kListed)));
  }
  if (failed != 0) {
    append_recovery_log(folder,
                        format_cut(1024, "%d file(s) could not be renamed and were left untouched.", failed));
  }
  if (in_use != 0) {
    append_recovery_log(folder,
                        format_cut(1024, "%d unfinished file(s) are still in use and were left alone.", in_use));
  }

  if (g_app.cli_mode || recovered == 0) return;

  std::string text = format_cut(
      4096, "Frelvanta recovered %d unfinished recording(s). They were renamed so they can be played:\n\n", recovered);
  for (const std::string& p : recovered_paths) {
    if (utf16_length(text) + utf16_length(p) + 8 >= 4096) break;
    text += "  " + p + "\n";
  }
  int more = recovered - static_cast<int>(recovered_paths.size());
  if (more > 0 && utf16_length(text) + 80 < 4096) text += format_cut(4096, "  ...and %d more\n", more);
  if (utf16_length(text) + 160 < 4096) {
    text += format_cut(256, "\nFolder: %s\n\n", folder.c_str());
    text += "The same list is in RECOVERED-RECORDINGS.txt in that folder.";
  }
  show_message(utf16_truncate(text, 4095), "Recovered Recordings", kMessageSetForeground | MB_ICONINFORMATION);
}
