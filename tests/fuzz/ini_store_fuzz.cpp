// Any bytes as a settings file: the reader and writer must neither crash nor
// read outside the text, must write back untouched files byte for byte, and
// an accepted write must read back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/app_state.h"
#include "settings/config_store.h"
#include "settings/ini_store.h"

namespace {
void check(bool ok) {
  if (!ok) std::abort();
}

// One scratch file for the whole run, removed at exit.
char g_scratch[] = "/tmp/fv-fuzz-ini-XXXXXX";

std::string scratch_file() {
  static bool made = [] {
    int fd = mkstemp(g_scratch);
    if (fd < 0) return false;
    close(fd);
    std::atexit([] { unlink(g_scratch); });
    return true;
  }();
  return made ? std::string(g_scratch) : std::string();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);

  IniDocument doc;
  doc.parse(text);
  check(doc.serialize() == text);  // nothing is rewritten by reading

  // Section and key names taken from the input itself, so the lookups hit.
  size_t cut = size / 3;
  std::string section = text.substr(0, cut % 9), key = text.substr(cut, cut % 7 + 1);
  std::string value;
  doc.get(section, key, &value);
  doc.get("frelvanta", "VideoBitrate", &value);
  ini_parse_int(text);

  if (doc.set(section, key, "fuzz-value")) {
    check(doc.get(section, key, &value) && value == "fuzz-value");
    IniDocument again;
    again.parse(doc.serialize());
    check(again.get(section, key, &value) && value == "fuzz-value");
    check(again.remove(section, key));
  }
  doc.set("frelvanta", "VideoBitrate", "8000");
  check(doc.get("frelvanta", "videobitrate", &value) && value == "8000");

  // The whole settings load over the same bytes, with its normalisation.
  std::string path = scratch_file();
  IniDocument file;
  file.parse(text);
  if (!path.empty() && file.save(path)) {
    Config c;
    config_load(&c, path);
    check(c.VideoMaxFramerate <= 240 && c.AudioChannels >= 1 && c.AudioChannels <= 2 && c.VideoCodec <= 2 &&
          c.VideoProfile <= 3 && c.StartDelaySec <= 5 && c.LastPreset <= 2 && c.MicrophoneVolume <= 200);
  }
  return 0;
}
