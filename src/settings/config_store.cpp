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

std::string u(uint32_t v) { return std::to_string(v); }
const char* b(uint32_t v) { return v ? "1" : "0"; }
}  // namespace

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

ReadStatus config_load(Config* c, const std::string& path, bool* hardware_encoder_stored) {
  // One read of the file for every key.
  ProfileReader ini;
  const ReadStatus status = ini.open(path);
  std::string text;
  read_bool(ini, "MouseCursor", &c->MouseCursor);
  read_bool(ini, "OnlyClientArea", &c->OnlyClientArea);
  read_bool(ini, "ShowRecordingBorder", &c->ShowRecordingBorder);
  read_bool(ini, "KeepRoundedWindowCorners", &c->KeepRoundedWindowCorners);
  read_bool(ini, "HardwareEncoder", &c->HardwareEncoder);
  if (hardware_encoder_stored) {
    uint32_t v;
    *hardware_encoder_stored = read_profile_number(ini, "HardwareEncoder", &v);
  }
  read_bool(ini, "HardwarePreferIntegrated", &c->HardwarePreferIntegrated);
  if (read_string(ini, "OutputFolder", &text, 260)) c->OutputFolder = text;
  read_bool(ini, "OpenFolder", &c->OpenFolder);
  read_bool(ini, "FragmentedOutput", &c->FragmentedOutput);
  // Files from before the setting existed come up crash-safe; from the first
  // save on, the stored choice applies.
  uint32_t fragmented_set = 0;
  read_bool(ini, "FragmentedOutputSet", &fragmented_set);
  if (fragmented_set != 1) c->FragmentedOutput = 1;
  read_bool(ini, "EnableLimitLength", &c->EnableLimitLength);
  read_bool(ini, "EnableLimitSize", &c->EnableLimitSize);
  read_bool(ini, "EnableDiskGuard", &c->EnableDiskGuard);
  read_uint(ini, "LimitLength", &c->LimitLength);
  read_uint(ini, "LimitSize", &c->LimitSize);
  read_uint(ini, "MinFreeSpaceMB", &c->MinFreeSpaceMB);
  read_bool(ini, "WriteDiagnostics", &c->WriteDiagnostics);
  read_bool(ini, "GammaCorrectResize", &c->GammaCorrectResize);
  read_bool(ini, "ImprovedColorConversion", &c->ImprovedColorConversion);
  read_choice(ini, "VideoCodec", &c->VideoCodec, kVideoCodecNames, 3);
  read_choice(ini, "VideoProfile", &c->VideoProfile, kVideoProfileNames, 4);
  read_uint(ini, "VideoMaxWidth", &c->VideoMaxWidth);
  read_uint(ini, "VideoMaxHeight", &c->VideoMaxHeight);
  read_uint(ini, "VideoMaxFramerate", &c->VideoMaxFramerate);
  read_uint(ini, "VideoBitrate", &c->VideoBitrate);
  read_bool(ini, "EnableAdaptiveGovernor", &c->EnableAdaptiveGovernor);
  read_uint(ini, "MinAdaptiveFps", &c->MinAdaptiveFps);
  read_uint(ini, "MinAdaptiveBitrateKbps", &c->MinAdaptiveBitrateKbps);
  read_uint(ini, "StartDelaySec", &c->StartDelaySec);
  read_bool(ini, "ShowStartCountdownOverlay", &c->ShowStartCountdownOverlay);
  read_uint(ini, "LastPreset", &c->LastPreset, kPresets, 3);
  read_bool(ini, "CaptureAudio", &c->CaptureAudio);
  read_bool(ini, "ApplicationLocalAudio", &c->ApplicationLocalAudio);
  read_choice(ini, "AudioCodec", &c->AudioCodec, kAudioCodecNames, 2);
  read_uint(ini, "AudioChannels", &c->AudioChannels, kChannels, 2);
  read_uint(ini, "AudioSamplerate", &c->AudioSamplerate, kSamplerates, 2);
  read_uint(ini, "AudioBitrate", &c->AudioBitrate, kAudioBitrates, 4);
  read_bool(ini, "CaptureMicrophone", &c->CaptureMicrophone);
  if (read_string(ini, "MicrophoneDeviceId", &text, 256)) c->MicrophoneDeviceId = text;
  read_uint(ini, "MicrophoneVolume", &c->MicrophoneVolume);
  c->MicrophoneVolume = std::min<uint32_t>(c->MicrophoneVolume, 200);
  read_uint(ini, "ShortcutMonitor", &c->ShortcutMonitor);
  read_uint(ini, "ShortcutWindow", &c->ShortcutWindow);
  read_uint(ini, "ShortcutRect", &c->ShortcutRect);
  read_uint(ini, "ShortcutPause", &c->ShortcutPause);
  read_bool(ini, "ConstantFrameRate", &c->ConstantFrameRate);

  if (c->MinAdaptiveFps == 0) c->MinAdaptiveFps = 1;
  if (c->MinAdaptiveBitrateKbps == 0) c->MinAdaptiveBitrateKbps = 1;
  c->StartDelaySec = std::min<uint32_t>(c->StartDelaySec, 5);
  c->LastPreset = std::min<uint32_t>(c->LastPreset, 2);
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
  auto put = [&writes](const char* key, const std::string& value) { writes.emplace_back(key, value); };
  auto choice = [](const char* const* names, size_t count, uint32_t index) {
    return std::string(index < count ? names[index] : names[0]);
  };
  put("MouseCursor", b(c.MouseCursor));
  put("OnlyClientArea", b(c.OnlyClientArea));
  put("ShowRecordingBorder", b(c.ShowRecordingBorder));
  put("KeepRoundedWindowCorners", b(c.KeepRoundedWindowCorners));
  put("HardwareEncoder", b(c.HardwareEncoder));
  put("HardwarePreferIntegrated", b(c.HardwarePreferIntegrated));
  put("OutputFolder", c.OutputFolder);
  put("OpenFolder", b(c.OpenFolder));
  put("FragmentedOutput", b(c.FragmentedOutput));
  put("FragmentedOutputSet", "1");
  put("EnableLimitLength", b(c.EnableLimitLength));
  put("EnableLimitSize", b(c.EnableLimitSize));
  put("EnableDiskGuard", b(c.EnableDiskGuard));
  put("LimitLength", u(c.LimitLength));
  put("LimitSize", u(c.LimitSize));
  put("MinFreeSpaceMB", u(c.MinFreeSpaceMB));
  put("WriteDiagnostics", b(c.WriteDiagnostics));
  put("GammaCorrectResize", b(c.GammaCorrectResize));
  put("ImprovedColorConversion", b(c.ImprovedColorConversion));
  put("VideoCodec", choice(kVideoCodecNames, 3, c.VideoCodec));
  put("VideoProfile", choice(kVideoProfileNames, 4, c.VideoProfile));
  put("VideoMaxWidth", u(c.VideoMaxWidth));
  put("VideoMaxHeight", u(c.VideoMaxHeight));
  put("VideoMaxFramerate", u(c.VideoMaxFramerate));
  put("VideoBitrate", u(c.VideoBitrate));
  put("EnableAdaptiveGovernor", b(c.EnableAdaptiveGovernor));
  put("MinAdaptiveFps", u(c.MinAdaptiveFps));
  put("MinAdaptiveBitrateKbps", u(c.MinAdaptiveBitrateKbps));
  put("StartDelaySec", u(c.StartDelaySec));
  put("ShowStartCountdownOverlay", b(c.ShowStartCountdownOverlay));
  put("LastPreset", u(c.LastPreset));
  put("CaptureAudio", b(c.CaptureAudio));
  put("ApplicationLocalAudio", b(c.ApplicationLocalAudio));
  put("AudioCodec", choice(kAudioCodecNames, 2, c.AudioCodec));
  put("AudioChannels", u(c.AudioChannels));
  put("AudioSamplerate", u(c.AudioSamplerate));
  put("AudioBitrate", u(c.AudioBitrate));
  writes.emplace_back("AudioMixMode", std::nullopt);
  put("CaptureMicrophone", b(c.CaptureMicrophone));
  put("MicrophoneDeviceId", c.MicrophoneDeviceId);
  put("MicrophoneVolume", u(c.MicrophoneVolume));
  put("ShortcutMonitor", u(c.ShortcutMonitor));
  put("ShortcutWindow", u(c.ShortcutWindow));
  put("ShortcutRect", u(c.ShortcutRect));
  put("ShortcutPause", u(c.ShortcutPause));
  put("ConstantFrameRate", b(c.ConstantFrameRate));
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
