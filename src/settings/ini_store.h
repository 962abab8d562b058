#pragma once
// INI files read and written the way the classic profile-string functions do:
// section and key names match case-insensitively (first occurrence wins),
// a missing key is told apart from an empty value, a changed key keeps its
// line, a new key goes after the last key of its section, a missing section
// is appended, and every other line (other sections, unknown keys, comments,
// blank lines) is kept byte for byte.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/files.h"

// Largest settings file read; a larger one is refused as a whole (and
// reported by the caller), never read in part.
constexpr size_t kMaxIniBytes = 16u << 20;

class IniDocument {
 public:
  // Replaces the contents with the file's. A missing or unreadable file
  // gives an empty document and false; read() tells why.
  bool load(const std::string& path) { return read(path) == ReadStatus::kOk; }
  ReadStatus read(const std::string& path);
  void parse(std::string_view bytes);
  std::string serialize() const;
  // Writes the whole document (through a temporary file and a rename when
  // the folder allows it). False when nothing could be written.
  bool save(const std::string& path) const;

  // The value of the first matching key in the first matching section,
  // trimmed and without one pair of enclosing quotes.
  bool get(std::string_view section, std::string_view key, std::string* value) const;
  // Refuses (returns false) names or values that would break the line
  // structure: line breaks anywhere, '=' in a key, ']' in a section name,
  // empty names.
  bool set(std::string_view section, std::string_view key, std::string_view value);
  // Deletes the key's first occurrence; nothing else changes. True when a
  // line was removed.
  bool remove(std::string_view section, std::string_view key);

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  // Index range [header, end) of the first section with this name; header
  // is npos when there is none.
  void find_section(std::string_view section, size_t* header, size_t* end) const;
  size_t find_key(size_t header, size_t end, std::string_view key) const;
  void insert_line(size_t at, std::string text);

  // Each line keeps its own terminator, so untouched lines are written back
  // exactly; new lines take the file's first terminator (CR LF when new).
  std::vector<std::string> lines_;
  std::vector<std::string> ends_;
  std::string eol_ = "\r\n";
  bool bom_ = false;
};

// One reading of a file for many look-ups: the value each (section, key)
// pair has under IniDocument::get, found without a walk over the lines, so
// loading every setting costs one read and one pass however large the file.
class IniSnapshot {
 public:
  ReadStatus load(const std::string& path);
  void parse(std::string_view bytes);
  bool get(std::string_view section, std::string_view key, std::string* value) const;

 private:
  // Lower-case "section\nkey" -> value.
  std::unordered_map<std::string, std::string> values_;
};

// The profile functions, one file access per call.
// Returns the value, or `fallback` when the file, section or key is missing.
std::string ini_get_string(const std::string& path, std::string_view section, std::string_view key,
                           std::string_view fallback);
// Number as the profile-int function reads it: `fallback` when the key is
// missing or its value empty; otherwise leading white space, an optional sign
// and decimal digits up to the first other character (no digits: 0). A value
// that does not fit a signed 32-bit number reads as a negative one, so a
// caller that rejects negatives rejects it too.
uint32_t ini_get_int(const std::string& path, std::string_view section, std::string_view key, int32_t fallback);
uint32_t ini_parse_int(std::string_view text);
// Sets (value non-null) or deletes (value null) one key. False on refusal or
// a write failure.
bool ini_put_string(const std::string& path, std::string_view section, std::string_view key,
                    const std::string* value);
