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

// The value, or `fallback` when the file, section or key is missing.
std::string profile_get_string(const std::string& path, std::string_view section, std::string_view key,
                               std::string_view fallback);
// The number as the profile-int function reads it; `fallback` when the key
// is missing or its value empty.
uint32_t profile_get_int(const std::string& path, std::string_view section, std::string_view key,
                         int32_t fallback);
// One key per entry, in order: a value sets the key, none deletes it.
// Results are not reported: the store ignores write failures.
using ProfileWrite = std::pair<std::string, std::optional<std::string>>;
void profile_put_strings(const std::string& path, std::string_view section, const std::vector<ProfileWrite>& writes);
