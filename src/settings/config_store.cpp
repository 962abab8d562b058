#include "settings/config_store.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/app_state.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "core/trace.h"
#include "settings/ini_store.h"
#include "settings/profile.h"

const char* const kVideoCodecNames[3] = {"H264", "H265", "AV1"};
const char* const kVideoProfileNames[4] = {"Base", "Main", "High", "Main10"};
const char* const kAudioCodecNames[2] = {"AAC", "FLAC"};

namespace {
constexpr const char* kSection = "frelvanta";
constexpr const char* kLegacySection = "zelk";
constexpr const char* kMissing = "__FRELVANTA_MISSING_KEY__";

constexpr uint32_t kPresets[] = {0, 1, 2};
constexpr uint32_t kChannels[] = {1, 2};
constexpr uint32_t kSamplerates[] = {44100, 48000};
constexpr uint32_t kAudioBitrates[] = {96, 128, 160, 192};

// The profiles each codec allows, in order; the last one is the fallback.
struct ProfileList {
  const uint32_t* items;
  size_t count;
};
constexpr uint32_t kH264Profiles[] = {VIDEO_PROFILE_BASE, VIDEO_PROFILE_MAIN, VIDEO_PROFILE_HIGH};
constexpr uint32_t kHevcAv1Profiles[] = {VIDEO_PROFILE_MAIN, VIDEO_PROFILE_MAIN10};
ProfileList profiles_for(uint32_t codec) {
  if (codec == VIDEO_CODEC_H264) return {kH264Profiles, 3};
  return {kHevcAv1Profiles, 2};
}

// Builders for the key table's rows.
constexpr IniKey flag(const char* name, uint32_t Config::*field) {
  return {.name = name, .kind = IniKeyKind::kBool, .number = field};
}
constexpr IniKey number(const char* name, uint32_t Config::*field, uint32_t min = 0, uint32_t max = UINT32_MAX) {
  return {.name = name, .kind = IniKeyKind::kNumber, .number = field, .min = min, .max = max};
}
template <size_t N>
constexpr IniKey one_of(const char* name, uint32_t Config::*field, const uint32_t (&accepted)[N],
                        uint32_t max = UINT32_MAX) {
  return {.name = name, .kind = IniKeyKind::kNumber, .number = field, .accepted = accepted, .count = N, .max = max};
}
template <size_t N>
constexpr IniKey choice(const char* name, uint32_t Config::*field, const char* const (&names)[N]) {
  return {.name = name, .kind = IniKeyKind::kChoice, .number = field, .names = names, .count = N};
}
constexpr IniKey text(const char* name, std::string Config::*field, size_t capacity_units) {
  return {.name = name, .kind = IniKeyKind::kText, .text = field, .count = capacity_units};
}

// Every key of the section, in the file's order.
constexpr IniKey kKeyRows[] = {
    flag("MouseCursor", &Config::MouseCursor),
    flag("OnlyClientArea", &Config::OnlyClientArea),
    flag("ShowRecordingBorder", &Config::ShowRecordingBorder),
    flag("KeepRoundedWindowCorners", &Config::KeepRoundedWindowCorners),
    flag("HardwareEncoder", &Config::HardwareEncoder),
    flag("HardwarePreferIntegrated", &Config::HardwarePreferIntegrated),
    text("OutputFolder", &Config::OutputFolder, 260),
    flag("OpenFolder", &Config::OpenFolder),
    flag("FragmentedOutput", &Config::FragmentedOutput),
    {.name = "FragmentedOutputSet", .kind = IniKeyKind::kMarker, .number = &Config::FragmentedOutput},
    flag("EnableLimitLength", &Config::EnableLimitLength),
    flag("EnableLimitSize", &Config::EnableLimitSize),
    flag("EnableDiskGuard", &Config::EnableDiskGuard),
    number("LimitLength", &Config::LimitLength),
    number("LimitSize", &Config::LimitSize),
    number("MinFreeSpaceMB", &Config::MinFreeSpaceMB),
    flag("WriteDiagnostics", &Config::WriteDiagnostics),
    flag("GammaCorrectResize", &Config::GammaCorrectResize),
    flag("ImprovedColorConversion", &Config::ImprovedColorConversion),
    choice("VideoCodec", &Config::VideoCodec, kVideoCodecNames),
    choice("VideoProfile", &Config::VideoProfile, kVideoProfileNames),
    number("VideoMaxWidth", &Config::VideoMaxWidth),
    number("VideoMaxHeight", &Config::VideoMaxHeight),
    number("VideoMaxFramerate", &Config::VideoMaxFramerate),
    number("VideoBitrate", &Config::VideoBitrate),
    flag("EnableAdaptiveGovernor", &Config::EnableAdaptiveGovernor),
    number("MinAdaptiveFps", &Config::MinAdaptiveFps, 1),
    number("MinAdaptiveBitrateKbps", &Config::MinAdaptiveBitrateKbps, 1),
    number("StartDelaySec", &Config::StartDelaySec, 0, 5),
    flag("ShowStartCountdownOverlay", &Config::ShowStartCountdownOverlay),
    one_of("LastPreset", &Config::LastPreset, kPresets, 2),
    flag("CaptureAudio", &Config::CaptureAudio),
    flag("ApplicationLocalAudio", &Config::ApplicationLocalAudio),
    choice("AudioCodec", &Config::AudioCodec, kAudioCodecNames),
    one_of("AudioChannels", &Config::AudioChannels, kChannels),
    one_of("AudioSamplerate", &Config::AudioSamplerate, kSamplerates),
    one_of("AudioBitrate", &Config::AudioBitrate, kAudioBitrates),
    {.name = "AudioMixMode", .kind = IniKeyKind::kRemoved},
    flag("CaptureMicrophone", &Config::CaptureMicrophone),
    text("MicrophoneDeviceId", &Config::MicrophoneDeviceId, 256),
    number("MicrophoneVolume", &Config::MicrophoneVolume, 0, 200),
    number("ShortcutMonitor", &Config::ShortcutMonitor),
    number("ShortcutWindow", &Config::ShortcutWindow),
    number("ShortcutRect", &Config::ShortcutRect),
    number("ShortcutPause", &Config::ShortcutPause),
    flag("ConstantFrameRate", &Config::ConstantFrameRate),
    text("ScreenCastRestoreToken", &Config::ScreenCastRestoreToken, 256),
    text("SystemAudioDeviceId", &Config::SystemAudioDeviceId, 256),
};
constexpr std::span<const IniKey> kKeys(kKeyRows);

std::string u(uint32_t v) { return std::to_string(v); }
const char* b(uint32_t v) { return v ? "1" : "0"; }
}  // namespace

std::span<const IniKey> config_keys() { return kKeys; }

void config_set_defaults(Config* config) {
  *config = Config{};
  config->OutputFolder = utf16_truncate(videos_directory(), 259);
}

namespace {
// The readers over one reading of the file; the path-taking readers below
// read it for their one key, config_load reads it once for all.
bool read_string(const ProfileReader& ini, const char* key, std::string* buffer, size_t capacity_units) {
  size_t room = capacity_units > 0 ? capacity_units - 1 : 0;
  *buffer = utf16_truncate(ini.get_string(kSection, key, kMissing), room);
  if (*buffer == kMissing) *buffer = utf16_truncate(ini.get_string(kLegacySection, key, ""), room);
  return !buffer->empty();
}

// The number both readers share; false when the field must keep its value.
bool read_profile_number(const ProfileReader& ini, const char* key, uint32_t* v) {
  *v = ini.get_int(kSection, key, -1);
  if (*v == 0xFFFFFFFFu) *v = ini.get_int(kLegacySection, key, -1);
  return static_cast<int32_t>(*v) >= 0;
}

void read_bool(const ProfileReader& ini, const char* key, uint32_t* field) {
  uint32_t v;
  if (read_profile_number(ini, key, &v)) *field = v != 0 ? 1 : 0;
}

void read_uint(const ProfileReader& ini, const char* key, uint32_t* field, const uint32_t* accepted = nullptr,
               size_t accepted_count = 0) {
  uint32_t v;
  if (!read_profile_number(ini, key, &v)) return;
  if (accepted && std::find(accepted, accepted + accepted_count, v) == accepted + accepted_count) return;
  *field = v;
}

void read_choice(const ProfileReader& ini, const char* key, uint32_t* field, const char* const* names,
                 size_t name_count) {
  std::string text;
  if (!read_string(ini, key, &text, 64)) return;
  for (size_t i = 0; i < name_count; ++i) {
    if (text == names[i]) {
      *field = static_cast<uint32_t>(i);
      return;
    }
  }
}

ProfileReader snapshot_of(const std::string& path) {
  ProfileReader ini;
  ini.open(path);
  return ini;
}
}  // namespace

bool ini_read_string(const std::string& path, const char* key, std::string* buffer, size_t capacity_units) {
  return read_string(snapshot_of(path), key, buffer, capacity_units);
}

void ini_read_bool(const std::string& path, const char* key, uint32_t* field) {
  read_bool(snapshot_of(path), key, field);
}

void ini_read_uint(const std::string& path, const char* key, uint32_t* field, const uint32_t* accepted,
                   size_t accepted_count) {
  read_uint(snapshot_of(path), key, field, accepted, accepted_count);
}

void ini_read_choice(const std::string& path, const char* key, uint32_t* field, const char* const* names,
                     size_t name_count) {
  read_choice(snapshot_of(path), key, field, names, name_count);
}

void ini_write_uint(const char* key, uint32_t value) {
  profile_put_strings(g_app.ini_path, kSection, {{key, u(value)}});
}

void ini_write_text(const char* key, const std::string& value) {
  profile_put_strings(g_app.ini_path, kSection, {{key, value}});
}

ReadStatus config_load(Config* c, const std::string& path, bool* hardware_encoder_stored) {
  // One read of the file for every key.
  ProfileReader ini;
  const ReadStatus status = ini.open(path);
  std::string text;
  for (const IniKey& key : kKeys) {
    switch (key.kind) {
      case IniKeyKind::kBool:
        read_bool(ini, key.name, &(c->*key.number));
        break;
      case IniKeyKind::kNumber:
        read_uint(ini, key.name, &(c->*key.number), key.accepted, key.count);
        c->*key.number = std::clamp(c->*key.number, key.min, key.max);
        break;
      case IniKeyKind::kChoice:
        read_choice(ini, key.name, &(c->*key.number), key.names, key.count);
        break;
      case IniKeyKind::kText:
        if (read_string(ini, key.name, &text, key.count)) c->*key.text = text;
        break;
      case IniKeyKind::kMarker: {
        // Files from before the marked setting existed come up with it on;
        // from the first save on, the stored choice applies.
        uint32_t set = 0;
        read_bool(ini, key.name, &set);
        if (set != 1) c->*key.number = 1;
        break;
      }
      case IniKeyKind::kRemoved:
        break;
    }
  }
  if (hardware_encoder_stored) {
    uint32_t v;
    *hardware_encoder_stored = read_profile_number(ini, "HardwareEncoder", &v);
  }
  config_normalize(c);

  ProfileList allowed = profiles_for(c->VideoCodec);
  if (std::find(allowed.items, allowed.items + allowed.count, c->VideoProfile) == allowed.items + allowed.count) {
    c->VideoProfile = allowed.items[allowed.count - 1];
  }
  return status;
}

void config_normalize(Config* c) {
  c->VideoMaxFramerate = std::min<uint32_t>(c->VideoMaxFramerate, 240);
  c->VideoMaxWidth = std::min<uint32_t>(c->VideoMaxWidth, 16384);
  c->VideoMaxHeight = std::min<uint32_t>(c->VideoMaxHeight, 16384);
  if (c->AudioChannels == 0) c->AudioChannels = 1;
  if (c->AudioChannels > 2) c->AudioChannels = 2;
  if (c->AudioSamplerate != 44100 && c->AudioSamplerate != 48000) c->AudioSamplerate = 48000;
  if (c->VideoCodec > 2) c->VideoCodec = VIDEO_CODEC_H264;
  if (c->LimitLength == 0) c->EnableLimitLength = 0;
  if (c->LimitSize == 0) c->EnableLimitSize = 0;

  std::string fps = c->VideoMaxFramerate == 0 ? std::string("auto") : u(c->VideoMaxFramerate);
  trace_event(format_cut(160, "config.values fps=%s size=%ux%u samplerate=%u channels=%u limits=%u/%u", fps.c_str(),
                         c->VideoMaxWidth, c->VideoMaxHeight, c->AudioSamplerate, c->AudioChannels,
                         c->EnableLimitLength ? c->LimitLength : 0, c->EnableLimitSize ? c->LimitSize : 0));
}

void config_save(const Config& c) {
  const std::string& path = g_app.ini_path;
  if (path.empty()) return;
  std::string folder = path_directory(path);
  if (!folder.empty()) create_directories(folder);

  // The whole record in one batch, so the own writer reads and writes the
  // file once; the system's profile functions write key by key. A file that
  // exists but cannot be read whole is left alone (profile_put_strings).
  std::vector<ProfileWrite> writes;
  writes.reserve(kKeys.size());
  for (const IniKey& key : kKeys) {
    switch (key.kind) {
      case IniKeyKind::kBool:
        writes.emplace_back(key.name, b(c.*key.number));
        break;
      case IniKeyKind::kNumber:
        writes.emplace_back(key.name, u(c.*key.number));
        break;
      case IniKeyKind::kChoice: {
        const uint32_t index = c.*key.number;
        writes.emplace_back(key.name, index < key.count ? key.names[index] : key.names[0]);
        break;
      }
      case IniKeyKind::kText:
        writes.emplace_back(key.name, c.*key.text);
        break;
      case IniKeyKind::kMarker:
        writes.emplace_back(key.name, "1");
        break;
      case IniKeyKind::kRemoved:
        writes.emplace_back(key.name, std::nullopt);
        break;
    }
  }
  profile_put_strings(path, kSection, writes);
}

void config_create_user_file(const Config& c) {
  config_save(c);
  ini_put_string(g_app.ini_path, kSection, "HardwareEncoder", nullptr);
}

bool legacy_ini_path(std::string* out) {
  out->clear();
  const std::string& ini = g_app.ini_path;
  std::string name = path_filename(ini);
  if (name.size() < 9 || !equals_ignore_case(std::string_view(name).substr(0, 9), "frelvanta")) return false;
  std::string legacy = format_cut(260, "zelk%s", name.c_str() + 9);
  std::string folder_part = ini.substr(0, ini.size() - name.size());
  size_t folder_units = utf16_length(folder_part);
  if (folder_units >= 260 || utf16_length(legacy) >= 260 - folder_units) return false;
  *out = folder_part + legacy;
  return true;
}

IniLocation choose_ini_location(const std::string& executable, bool executable_folder_writable,
                                const std::string& config_home, const std::string& state_home) {
  IniLocation where;
  std::string folder = path_directory(executable);
  std::string name = path_filename(executable);
  // The extension is what follows the last dot, unless the dot starts the name.
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  name += ".ini";
  std::string beside = path_join(folder, name);
  if (!folder.empty() && (executable_folder_writable || file_exists(beside))) {
    where.ini_path = beside;
  } else {
    where.ini_path = path_join(path_join(config_home, "frelvanta"), name);
    where.in_user_folder = true;
  }
  where.trace_folder =
      !folder.empty() && executable_folder_writable ? folder : path_join(state_home, "frelvanta");
  return where;
}

IniLocation locate_ini_for_process() {
  std::string exe = executable_path();
  std::string folder = path_directory(exe);
  bool writable = !folder.empty() && directory_writable(folder);
  IniLocation where = choose_ini_location(exe.empty() ? std::string("frelvanta") : exe, writable, config_home(),
                                          state_home());
  if (!writable) create_directories(where.trace_folder);
  return where;
}
