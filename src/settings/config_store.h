#pragma once
// Loading, normalising and saving the settings record, and where its INI
// file lives.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/files.h"
#include "settings/config.h"

void config_set_defaults(Config* config);
// Reads every key of the file at `path` over the current contents, then
// normalises. A missing file leaves the contents and still normalises, as
// does a file that cannot be read whole; the result tells which happened,
// so that the caller can report a file it had to ignore. When
// `hardware_encoder_stored` is given, it tells whether the file stores a
// number for HardwareEncoder (a fresh install stores none).
ReadStatus config_load(Config* config, const std::string& path, bool* hardware_encoder_stored = nullptr);
// Clamping shared by loading and the settings dialog; ends with the
// config.values trace line.
void config_normalize(Config* config);
// Writes every key into section "frelvanta" of App.ini_path (creating its
// folder when needed). Write failures are not reported. A file there that
// cannot be read whole is left as it is.
void config_save(const Config& config);
// The first start of an installed program (INI in the user's configuration
// folder, no file yet) writes the loaded settings there, so the user finds
// the file where the documentation says. HardwareEncoder is left out: while
// the file has no such key the encoder choice follows the machine.
void config_create_user_file(const Config& config);
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
// Writes one text key of the section.
void ini_write_text(const char* key, const std::string& value);

// Choice tables (index = field value).
extern const char* const kVideoCodecNames[3];
extern const char* const kVideoProfileNames[4];
extern const char* const kAudioCodecNames[2];

// How one INI key is read and written.
enum class IniKeyKind : uint8_t {
  kBool,    // stored as 0 or 1; any other non-negative number reads as 1
  kNumber,  // unsigned; see IniKey::accepted and IniKey::min/max
  kChoice,  // one of IniKey::names, the field holding its index; an
            // index out of range is written as the first name
  kText,    // IniKey::count is the buffer's capacity in UTF-16 units (one
            // for the terminator); an empty value keeps the field
  kMarker,  // written as 1 on every save; when a loaded file lacks it (or it
            // is not 1), the field it marks is switched on
  kRemoved  // no longer used: deleted from the section on save, never read
};

// One INI key of the settings record. The table of them (config_keys())
// is in the file's order and drives loading, saving and their tests.
struct IniKey {
  const char* name;
  IniKeyKind kind;
  uint32_t Config::*number = nullptr;  // kBool, kNumber, kChoice; kMarker: the field marked
  std::string Config::*text = nullptr;  // kText
  const uint32_t* accepted = nullptr;  // kNumber: the only values read (nullptr: any)
  const char* const* names = nullptr;  // kChoice
  size_t count = 0;                    // entries of `accepted` or `names`; kText: capacity in UTF-16 units
  // kNumber: after loading, the field (read or kept) is clamped to these.
  uint32_t min = 0;
  uint32_t max = UINT32_MAX;
};
std::span<const IniKey> config_keys();

// Where the INI file and the run trace go. The INI sits beside the executable
// under its base name with ".ini" when that folder is writable or already
// holds the file (a portable install); otherwise in the user's configuration
// folder under the same name. The run trace sits beside the executable when
// that folder is writable, otherwise in the user's state folder.
struct IniLocation {
  std::string ini_path;
  std::string trace_folder;
  bool in_user_folder = false;  // the configuration folder, not beside the executable
};
IniLocation choose_ini_location(const std::string& executable, bool executable_folder_writable,
                                const std::string& config_home, const std::string& state_home);
// The same with the running executable, the real folder test and the XDG
// folders; creates the trace folder when it is the state folder.
IniLocation locate_ini_for_process();
