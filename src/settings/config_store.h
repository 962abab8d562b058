#pragma once
// Loading, normalising and saving the settings record, and where its INI
// file lives.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "settings/config.h"

void config_set_defaults(Config* config);
// Reads every key of the file at `path` over the current contents, then
// normalises. A missing file leaves the contents and still normalises, as
// does a file that cannot be read whole; the result tells which happened,
// so that the caller can report a file it had to ignore.
ReadStatus config_load(Config* config, const std::string& path);
// Clamping shared by loading and the settings dialog; ends with the
// config.values trace line.
void config_normalize(Config* config);
// Writes every key into section "frelvanta" of App.ini_path (creating its
// folder when needed). Write failures are not reported. A file there that
// cannot be read whole is left as it is.
void config_save(const Config& config);
// The older engine's INI beside App.ini_path; false (and empty) when the
// file name has no older form.
bool legacy_ini_path(std::string* out);

// Readers: section "frelvanta", then "zelk" for a key absent there.
bool ini_read_string(const std::string& path, const char* key, std::string* buffer, size_t capacity_units);
void ini_read_bool(const std::string& path, const char* key, uint32_t* field);
// `accepted` (when not null) lists the only values stored.
void ini_read_uint(const std::string& path, const char* key, uint32_t* field, const uint32_t* accepted = nullptr,
                   size_t accepted_count = 0);
void ini_read_choice(const std::string& path, const char* key, uint32_t* field, const char* const* names,
                     size_t name_count);
void ini_write_uint(const char* key, uint32_t value);

// Choice tables (index = field value).
extern const char* const kVideoCodecNames[3];
extern const char* const kVideoProfileNames[4];
extern const char* const kAudioCodecNames[2];

// Where the INI file and the run trace go. The INI sits beside the executable
// under its base name with ".ini" when that folder is writable or already
// holds the file (a portable install); otherwise in the user's configuration
// folder under the same name. The run trace sits beside the executable when
// that folder is writable, otherwise in the user's state folder.
struct IniLocation {
  std::string ini_path;
  std::string trace_folder;
};
IniLocation choose_ini_location(const std::string& executable, bool executable_folder_writable,
                                const std::string& config_home, const std::string& state_home);
// The same with the running executable, the real folder test and the XDG
// folders; creates the trace folder when it is the state folder.
IniLocation locate_ini_for_process();
