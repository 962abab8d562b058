// Systems without the profile-string functions: the own INI reader and
// writer, with one read and one write for a batch of keys (the file ends up
// exactly as key-by-key writes would leave it).
#include "settings/profile.h"

ReadStatus ProfileReader::open(const std::string& path) {
  path_ = path;
  status_ = snapshot_.load(path);
  return status_;
}

std::string ProfileReader::get_string(std::string_view section, std::string_view key,
                                      std::string_view fallback) const {
  std::string value;
  return snapshot_.get(section, key, &value) ? value : std::string(fallback);
}

uint32_t ProfileReader::get_int(std::string_view section, std::string_view key, int32_t fallback) const {
  std::string value;
  if (!snapshot_.get(section, key, &value) || value.empty()) return static_cast<uint32_t>(fallback);
  return ini_parse_int(value);
}

std::string profile_get_string(const std::string& path, std::string_view section, std::string_view key,
                               std::string_view fallback) {
  return ini_get_string(path, section, key, fallback);
}

uint32_t profile_get_int(const std::string& path, std::string_view section, std::string_view key,
                         int32_t fallback) {
  return ini_get_int(path, section, key, fallback);
}

void profile_put_strings(const std::string& path, std::string_view section, const std::vector<ProfileWrite>& writes) {
  IniDocument doc;
  const ReadStatus status = doc.read(path);
  if (status != ReadStatus::kOk && status != ReadStatus::kMissing) return;
  for (const ProfileWrite& w : writes) {
    if (w.second) doc.set(section, w.first, *w.second);
    else doc.remove(section, w.first);
  }
  doc.save(path);
}
