#pragma once
// The system's profile-string functions, through which the configuration
// store reads and writes its INI file. Windows has them; elsewhere the own
// reader and writer of ini_store.h stands in with the same behaviour.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "settings/ini_store.h"

// Many keys of one file. The own reader parses the file once; the system's
// functions are asked key by key. Either way the file is first read as an
// input file, so one that exists but cannot be used is told apart from a
// missing one, and gives only the fallbacks.
class ProfileReader {
 public:
  ReadStatus open(const std::string& path);
  // The value, or `fallback` when the section or key is missing.
  std::string get_string(std::string_view section, std::string_view key, std::string_view fallback) const;
  // The number as the profile-int function reads it; `fallback` when the key
  // is missing or its value empty.
  uint32_t get_int(std::string_view section, std::string_view key, int32_t fallback) const;

 private:
  std::string path_;
  ReadStatus status_ = ReadStatus::kMissing;
  IniSnapshot snapshot_;
};

// One key of one file (a ProfileReader for a single key).
std::string profile_get_string(const std::string& path, std::string_view section, std::string_view key,
                               std::string_view fallback);
uint32_t profile_get_int(const std::string& path, std::string_view section, std::string_view key,
                         int32_t fallback);

// One key per entry, in order: a value sets the key, none deletes it. A file
// that exists but cannot be read whole is not touched (its other contents
// would be lost). Results are not reported: the store ignores write failures.
using ProfileWrite = std::pair<std::string, std::optional<std::string>>;
void profile_put_strings(const std::string& path, std::string_view section, const std::vector<ProfileWrite>& writes);
