#include "dialogs/settings_dialog.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "core/ui_service.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "core/trace.h"
#include "settings/config_store.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/settings_ids.h"
#include "dialogs/settings_template.h"
#include "dialogs/update_check.h"

SettingsDialogState g_settings_dialog;

namespace {
SettingsDialogServices g_services;
constexpr uint32_t kMaxMicrophones = 32;
constexpr int kShortcutIds[4] = {ID_SHORTCUT_MONITOR, ID_SHORTCUT_WINDOW, ID_SHORTCUT_RECT, ID_SHORTCUT_PAUSE};
constexpr const char* kCapturePrompt = "Press new shortcut, [ESC] to cancel, [BACKSPACE] to disable";

int shortcut_slot(int id) {
  for (int i = 0; i < 4; ++i)
    if (kShortcutIds[i] == id) return i;
  return -1;
}

std::string shortcut_text(uint32_t value) {
  return g_services.format_shortcut ? g_services.format_shortcut(value) : std::string();
}

void register_shortcuts() {
  if (g_services.register_shortcuts) g_services.register_shortcuts();
}

bool app_audio_supported() { return g_services.application_audio_supported && g_services.application_audio_supported(); }

void update_application_audio(DialogHost& d) {
  d.enable_item(ID_APPLICATION_AUDIO, app_audio_supported() && d.is_checked(ID_CAPTURE_AUDIO));
}

bool ends_with_ignore_case(const std::string& s, std::string_view suffix) {
  return s.size() >= suffix.size() && equals_ignore_case(std::string_view(s).substr(s.size() - suffix.size()), suffix);
}

// The run trace and its ".old" copy, when the trace path leaves room for the suffix.
std::vector<std::string> run_trace_candidates() {
  std::vector<std::string> out;
  std::string trace = run_trace_path();
  if (!trace.empty() && !path_directory(trace).empty() && utf16_length(trace) < 256) {
    out.push_back(trace);
    out.push_back(trace + ".old");
  }
  return out;
}

// Regular files in `folder` named "*.mp4.diag.txt" or "*.mp4.stoptrace.txt".
std::vector<std::string> recording_logs(const std::string& folder) {
  std::vector<std::string> out;
  if (folder.empty()) return out;
  std::error_code ec;
  std::filesystem::directory_iterator it(std::filesystem::path(folder), ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    std::error_code e2;
    if (!it->is_regular_file(e2)) continue;
    std::string name = it->path().filename().string();
    if (ends_with_ignore_case(name, ".mp4.diag.txt") || ends_with_ignore_case(name, ".mp4.stoptrace.txt"))
      out.push_back(it->path().string());
  }
  return out;
}
}  // namespace

void set_settings_dialog_services(const SettingsDialogServices& services) { g_services = services; }

void refill_profile_list(DialogHost& d, uint32_t codec) {
  d.list_reset(ID_VIDEO_PROFILE);
  if (codec == VIDEO_CODEC_H265 || codec == VIDEO_CODEC_AV1) {
    d.list_add(ID_VIDEO_PROFILE, "Main (8-bit)", "1");
    d.list_add(ID_VIDEO_PROFILE, codec == VIDEO_CODEC_H265 ? "Main10 (10-bit)" : "Main (10-bit)", "3");
    d.list_select(ID_VIDEO_PROFILE, 1);
  } else {
    d.list_add(ID_VIDEO_PROFILE, "Base", "0");
    d.list_add(ID_VIDEO_PROFILE, "Main", "1");
    d.list_add(ID_VIDEO_PROFILE, "High", "2");
    d.list_select(ID_VIDEO_PROFILE, 2);
  }
}

void refill_audio_bitrate_list(DialogHost& d, uint32_t codec, uint32_t bitrate) {
  d.list_reset(ID_AUDIO_BITRATE);
  if (codec == AUDIO_CODEC_FLAC) {
    d.list_add(ID_AUDIO_BITRATE, "auto");
    d.list_select(ID_AUDIO_BITRATE, 0);
    return;
  }
  for (const char* b : {"96", "128", "160", "192"}) d.list_add(ID_AUDIO_BITRATE, b);
  d.list_select_prefix(ID_AUDIO_BITRATE, std::to_string(bitrate));
}

void apply_preset(DialogHost& d, int index) {
  static const uint32_t kPresets[3][4] = {{1280, 720, 30, 4000}, {1920, 1080, 60, 8000}, {2560, 1440, 60, 12000}};
  const uint32_t* p = kPresets[index >= 0 && index <= 2 ? index : 1];
  d.set_item_number(ID_MAX_WIDTH, p[0]);
  d.set_item_number(ID_MAX_HEIGHT, p[1]);
  d.set_item_number(ID_MAX_FRAMERATE, p[2]);
  d.set_item_number(ID_VIDEO_BITRATE, p[3]);
}

void delete_diagnostic_logs(DialogHost& d, const Config& config) {
  static const char kCaption[] = "Delete Diagnostic Logs";
  uint32_t total = 0;
  for (const std::string& p : run_trace_candidates()) total += file_exists(p) ? 1 : 0;
  total += static_cast<uint32_t>(recording_logs(config.OutputFolder).size());
  if (total == 0) {
    d.message_box("No diagnostic logs were found.", kCaption, MB_ICONINFORMATION);
    return;
  }
  // The run trace sits beside the executable in a portable install, in the
  // state folder otherwise: the question names where it really is.
  const std::string trace_folder = path_directory(run_trace_path());
  const std::string where = trace_folder.empty() || trace_folder == path_directory(executable_path())
                                ? std::string("next to Frelvanta")
                                : "in " + trace_folder;
  std::string question = format_cut(
      1024,
      "Delete %u diagnostic log file(s)?\n\nThis removes frelvanta-runtrace.txt %s and the "
      ".diag.txt / .stoptrace.txt files in:\n\n%s\n\nThis cannot be undone.",
      total, where.c_str(), config.OutputFolder.c_str());
  if (d.message_box(question, kCaption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) return;
  uint32_t deleted = 0;
  for (const std::string& p : run_trace_candidates())
    if (file_exists(p) && delete_file(p)) ++deleted;
  for (const std::string& p : recording_logs(config.OutputFolder))
    if (delete_file(p)) ++deleted;
  d.message_box(format_cut(1024, "Deleted %u diagnostic log file(s).", deleted), kCaption, MB_ICONINFORMATION);
}

void SettingsDialogProc::fill_settings_controls(DialogHost& d, const Config& c) {
  refill_profile_list(d, c.VideoCodec);
  refill_audio_bitrate_list(d, c.AudioCodec, c.AudioBitrate);

  d.set_checked(ID_MOUSE_CURSOR, c.MouseCursor);
  d.set_checked(ID_ONLY_CLIENT_AREA, c.OnlyClientArea);
  d.set_checked(ID_RECORDING_BORDER, c.ShowRecordingBorder);
  d.set_checked(ID_ROUNDED_CORNERS, c.KeepRoundedWindowCorners);
  d.set_checked(ID_HARDWARE_ENCODER, c.HardwareEncoder);
  d.list_select(ID_HARDWARE_PREFERENCE, c.HardwarePreferIntegrated ? 0 : 1);

  d.set_item_number(ID_START_DELAY, std::min<uint32_t>(c.StartDelaySec, 5));
  d.set_checked(ID_COUNTDOWN_OVERLAY, c.ShowStartCountdownOverlay);
  d.set_item_text(ID_OUTPUT_FOLDER, c.OutputFolder);
  d.set_checked(ID_OPEN_FOLDER, c.OpenFolder);
  d.set_checked(ID_FRAGMENTED, c.FragmentedOutput);
  d.set_checked(ID_LIMIT_LENGTH, c.EnableLimitLength);
  d.set_checked(ID_LIMIT_SIZE, c.EnableLimitSize);
  d.set_item_number(ID_LIMIT_LENGTH_VALUE, c.LimitLength);
  d.set_item_number(ID_LIMIT_SIZE_VALUE, c.LimitSize);
  d.set_checked(ID_WRITE_DIAGNOSTICS, c.WriteDiagnostics);
  d.set_checked(ID_GAMMA_RESIZE, c.GammaCorrectResize);
  d.set_checked(ID_IMPROVED_COLOR, c.ImprovedColorConversion);

  d.list_select(ID_VIDEO_CODEC, static_cast<int>(c.VideoCodec));
  int profiles = d.list_count(ID_VIDEO_PROFILE);
  int profile = profiles - 1;
  for (int i = 0; i < profiles; ++i) {
    if (d.list_data(ID_VIDEO_PROFILE, i) == std::to_string(c.VideoProfile)) {
      profile = i;
      break;
    }
  }
  d.list_select(ID_VIDEO_PROFILE, profile);
  d.set_item_number(ID_MAX_WIDTH, c.VideoMaxWidth);
  d.set_item_number(ID_MAX_HEIGHT, c.VideoMaxHeight);
  d.set_item_number(ID_MAX_FRAMERATE, c.VideoMaxFramerate);
  d.set_checked(ID_CONSTANT_FRAMERATE, c.ConstantFrameRate);
  d.set_item_number(ID_VIDEO_BITRATE, c.VideoBitrate);
  d.list_select(ID_PRESET, static_cast<int>(std::min<uint32_t>(c.LastPreset, 2)));

  d.set_checked(ID_CAPTURE_AUDIO, c.CaptureAudio);
  d.set_checked(ID_APPLICATION_AUDIO, c.ApplicationLocalAudio);
  d.list_select(ID_AUDIO_CODEC, static_cast<int>(c.AudioCodec));
  d.list_select(ID_AUDIO_CHANNELS, static_cast<int>(c.AudioChannels) - 1);
  d.list_select_prefix(ID_AUDIO_SAMPLERATE, std::to_string(c.AudioSamplerate));
  d.set_checked(ID_CAPTURE_MICROPHONE, c.CaptureMicrophone);
  d.set_item_number(ID_MIC_VOLUME, std::min<uint32_t>(c.MicrophoneVolume, 200));

  int mic = 0;
  if (!c.MicrophoneDeviceId.empty()) {
    int n = d.list_count(ID_MIC_DEVICE);
    for (int i = 1; i < n; ++i) {
      if (d.list_data(ID_MIC_DEVICE, i) == c.MicrophoneDeviceId) {
        mic = i;
        break;
      }
    }
  }
  d.list_select(ID_MIC_DEVICE, mic);

  const uint32_t values[4] = {c.ShortcutMonitor, c.ShortcutWindow, c.ShortcutRect, c.ShortcutPause};
  for (int i = 0; i < 4; ++i) {
    d.set_item_text(kShortcutIds[i], shortcut_text(values[i]));
    pending_shortcut_[i] = values[i];
  }

  d.enable_item(ID_HARDWARE_PREFERENCE, c.HardwareEncoder != 0);
  d.enable_item(ID_LIMIT_LENGTH_VALUE, c.EnableLimitLength != 0);
  d.enable_item(ID_LIMIT_SIZE_VALUE, c.EnableLimitSize != 0);

  const PlatformCapabilities& caps = g_services.capabilities;
  d.enable_item(ID_MOUSE_CURSOR, caps.cursor_capture);
  d.enable_item(ID_RECORDING_BORDER, caps.recording_border);
  d.enable_item(ID_ROUNDED_CORNERS, caps.rounded_corners);
  update_application_audio(d);

  d.set_item_text(ID_UPDATE_LINK, "Check For Updates");
  d.enable_item(ID_UPDATE_LINK, g_update_check_running.load() == 0);
}

void SettingsDialogProc::read_settings_controls(DialogHost& d) {
  Config& c = *config_;
  auto sel = [&](int id) { return d.list_selection(id); };

  c.MouseCursor = d.is_checked(ID_MOUSE_CURSOR);
  c.OnlyClientArea = d.is_checked(ID_ONLY_CLIENT_AREA);
  c.ShowRecordingBorder = d.is_checked(ID_RECORDING_BORDER);
  c.KeepRoundedWindowCorners = d.is_checked(ID_ROUNDED_CORNERS);
  c.HardwareEncoder = d.is_checked(ID_HARDWARE_ENCODER);
  if (sel(ID_HARDWARE_PREFERENCE) == 0) c.HardwarePreferIntegrated = 1;
  else if (sel(ID_HARDWARE_PREFERENCE) == 1) c.HardwarePreferIntegrated = 0;

  c.StartDelaySec = std::min<uint32_t>(d.item_number(ID_START_DELAY), 5);
  c.ShowStartCountdownOverlay = d.is_checked(ID_COUNTDOWN_OVERLAY);
  c.OutputFolder = utf16_truncate(d.item_text(ID_OUTPUT_FOLDER), 259);
  c.OpenFolder = d.is_checked(ID_OPEN_FOLDER);
  c.FragmentedOutput = d.is_checked(ID_FRAGMENTED);
  c.EnableLimitLength = d.is_checked(ID_LIMIT_LENGTH);
  c.EnableLimitSize = d.is_checked(ID_LIMIT_SIZE);
  c.LimitLength = d.item_number(ID_LIMIT_LENGTH_VALUE);
  c.LimitSize = d.item_number(ID_LIMIT_SIZE_VALUE);
  c.WriteDiagnostics = d.is_checked(ID_WRITE_DIAGNOSTICS);
  c.GammaCorrectResize = d.is_checked(ID_GAMMA_RESIZE);
  c.ImprovedColorConversion = d.is_checked(ID_IMPROVED_COLOR);

  if (sel(ID_VIDEO_CODEC) >= 0) c.VideoCodec = static_cast<uint32_t>(sel(ID_VIDEO_CODEC));
  if (d.list_count(ID_VIDEO_PROFILE) > 0) {
    int p = sel(ID_VIDEO_PROFILE) >= 0 ? sel(ID_VIDEO_PROFILE) : 0;
    c.VideoProfile = static_cast<uint32_t>(std::strtoul(d.list_data(ID_VIDEO_PROFILE, p).c_str(), nullptr, 10));
  }
  c.VideoMaxWidth = d.item_number(ID_MAX_WIDTH);
  c.VideoMaxHeight = d.item_number(ID_MAX_HEIGHT);
  c.VideoMaxFramerate = d.item_number(ID_MAX_FRAMERATE);
  c.ConstantFrameRate = d.is_checked(ID_CONSTANT_FRAMERATE);
  c.VideoBitrate = d.item_number(ID_VIDEO_BITRATE);
  if (sel(ID_PRESET) >= 0) c.LastPreset = sel(ID_PRESET) > 2 ? 1 : static_cast<uint32_t>(sel(ID_PRESET));

  c.CaptureAudio = d.is_checked(ID_CAPTURE_AUDIO);
  c.ApplicationLocalAudio = d.is_checked(ID_APPLICATION_AUDIO);
  if (sel(ID_AUDIO_CODEC) >= 0) c.AudioCodec = static_cast<uint32_t>(sel(ID_AUDIO_CODEC));
  if (sel(ID_AUDIO_CHANNELS) >= 0) c.AudioChannels = static_cast<uint32_t>(sel(ID_AUDIO_CHANNELS)) + 1;
  if (sel(ID_AUDIO_SAMPLERATE) == 0) c.AudioSamplerate = 44100;
  else if (sel(ID_AUDIO_SAMPLERATE) == 1) c.AudioSamplerate = 48000;
  static const uint32_t kBitrates[4] = {96, 128, 160, 192};
  if (c.AudioCodec == AUDIO_CODEC_AAC && sel(ID_AUDIO_BITRATE) >= 0 && sel(ID_AUDIO_BITRATE) <= 3)
    c.AudioBitrate = kBitrates[sel(ID_AUDIO_BITRATE)];

  c.CaptureMicrophone = d.is_checked(ID_CAPTURE_MICROPHONE);
  c.MicrophoneVolume = std::min<uint32_t>(d.item_number(ID_MIC_VOLUME), 200);
  int mic = sel(ID_MIC_DEVICE);
  c.MicrophoneDeviceId = mic > 0 ? utf16_truncate(d.list_data(ID_MIC_DEVICE, mic), 255) : std::string();

  c.ShortcutMonitor = pending_shortcut_[0];
  c.ShortcutWindow = pending_shortcut_[1];
  c.ShortcutRect = pending_shortcut_[2];
  c.ShortcutPause = pending_shortcut_[3];
}

void SettingsDialogProc::on_init(DialogHost& d) {
  for (const char* s : {"Prefer iGPU", "Prefer dGPU"}) d.list_add(ID_HARDWARE_PREFERENCE, s);
  for (const char* s : {"Performance", "Balanced", "Quality"}) d.list_add(ID_PRESET, s);
  for (const char* s : {"H264 / AVC", "H265 / HEVC", "AV1"}) d.list_add(ID_VIDEO_CODEC, s);
  for (const char* s : {"AAC", "FLAC"}) d.list_add(ID_AUDIO_CODEC, s);
  for (const char* s : {"1", "2"}) d.list_add(ID_AUDIO_CHANNELS, s);
  for (const char* s : {"44100", "48000"}) d.list_add(ID_AUDIO_SAMPLERATE, s);
  d.list_add(ID_MIC_DEVICE, "[default]");
  if (g_services.enumerate_microphones) {
    std::string names[kMaxMicrophones], ids[kMaxMicrophones];
    uint32_t n = std::min(g_services.enumerate_microphones(names, ids, kMaxMicrophones), kMaxMicrophones);
    for (uint32_t i = 0; i < n; ++i) d.list_add(ID_MIC_DEVICE, names[i].empty() ? "[unknown]" : names[i], ids[i]);
  }
  fill_settings_controls(d, *config_);
  d.bring_to_front();
  g_settings_dialog.settings_window = &d;
  g_settings_dialog.capturing_shortcut = 0;
}

void SettingsDialogProc::end_shortcut_capture(DialogHost& d, int id, uint32_t value) {
  int slot = shortcut_slot(id);
  if (slot >= 0) {
    pending_shortcut_[slot] = value;
    d.set_item_text(id, shortcut_text(value));
  }
  d.end_key_capture(id);
  g_settings_dialog.capturing_shortcut = 0;
}

bool SettingsDialogProc::on_key_up(DialogHost& d, int id, uint32_t key, uint32_t held) {
  if (id != g_settings_dialog.capturing_shortcut) return false;
  if (key == 16 || key == 17 || key == 18 || key == 91 || key == 92 || (key >= 160 && key <= 165))
    return false;  // a modifier alone: keep waiting for the key it modifies
  uint32_t value;
  if (key == 8) value = 0;
  else if (key == 27) value = pending_shortcut_[shortcut_slot(id)];
  else value = (key & 0xFFFFFF) | (held & (SHORTCUT_ALT | SHORTCUT_CTRL | SHORTCUT_SHIFT | SHORTCUT_WIN));
  end_shortcut_capture(d, id, value);
  register_shortcuts();  // from Config: the new value only counts after OK
  return true;
}

void SettingsDialogProc::on_command(DialogHost& d, int id, int code) {
  switch (id) {
    case ID_OK:
      if (g_settings_dialog.capturing_shortcut)  // the caller registers the shortcuts after OK
        end_shortcut_capture(d, g_settings_dialog.capturing_shortcut,
                             pending_shortcut_[shortcut_slot(g_settings_dialog.capturing_shortcut)]);
      read_settings_controls(d);
      config_normalize(config_);
      d.end_dialog(1);
      return;
    case ID_CANCEL:
      // A capture still running gave up the global shortcuts; Cancel takes
      // them back, since nothing else will.
      if (g_settings_dialog.capturing_shortcut) {
        end_shortcut_capture(d, g_settings_dialog.capturing_shortcut,
                             pending_shortcut_[shortcut_slot(g_settings_dialog.capturing_shortcut)]);
        register_shortcuts();
      }
      d.end_dialog(0);
      return;
    case ID_DEFAULTS: {
      Config scratch;
      config_set_defaults(&scratch);
      fill_settings_controls(d, scratch);
      if (g_settings_dialog.capturing_shortcut) {
        d.end_key_capture(g_settings_dialog.capturing_shortcut);
        g_settings_dialog.capturing_shortcut = 0;
        register_shortcuts();
      }
      return;
    }
    case ID_DELETE_LOGS:
      delete_diagnostic_logs(d, *config_);
      return;
    case ID_ABOUT:
      show_about_dialog(&d);
      return;
    case ID_DONATE:
      show_donate_dialog(&d);
      return;
    case ID_UPDATE_LINK:
      if (code == STN_CLICKED) begin_update_check(d);
      return;
    case ID_VIDEO_CODEC:
      if (code == CBN_SELCHANGE && d.list_selection(ID_VIDEO_CODEC) >= 0)
        refill_profile_list(d, static_cast<uint32_t>(d.list_selection(ID_VIDEO_CODEC)));
      return;
    case ID_PRESET:
      if (code == CBN_SELCHANGE && d.list_selection(ID_PRESET) >= 0) apply_preset(d, d.list_selection(ID_PRESET));
      return;
    case ID_AUDIO_CODEC:
      if (code == CBN_SELCHANGE && d.list_selection(ID_AUDIO_CODEC) >= 0)
        refill_audio_bitrate_list(d, static_cast<uint32_t>(d.list_selection(ID_AUDIO_CODEC)), config_->AudioBitrate);
      return;
    case ID_HARDWARE_ENCODER:
    case ID_LIMIT_LENGTH:
    case ID_LIMIT_SIZE:
      if (code == BN_CLICKED) d.enable_item(id + 1, d.is_checked(id));
      return;
    case ID_CAPTURE_AUDIO:
      if (code == BN_CLICKED) update_application_audio(d);
      return;
    case ID_BROWSE_FOLDER: {
      std::string folder = d.item_text(ID_OUTPUT_FOLDER);
      if (d.pick_folder(&folder)) d.set_item_text(ID_OUTPUT_FOLDER, folder);
      return;
    }
    case ID_SHORTCUT_MONITOR:
    case ID_SHORTCUT_WINDOW:
    case ID_SHORTCUT_RECT:
    case ID_SHORTCUT_PAUSE:
      if (code == BN_CLICKED && g_settings_dialog.capturing_shortcut == 0) {
        d.set_item_text(id, kCapturePrompt);
        g_settings_dialog.capturing_shortcut = id;
        d.begin_key_capture(id);
        if (g_services.unregister_shortcuts) g_services.unregister_shortcuts();
      }
      return;
    default:
      return;
  }
}

void SettingsDialogProc::on_message(DialogHost& d, uint32_t message, std::shared_ptr<void> payload) {
  if (message == MSG_UPDATE_RESULT) handle_update_result(d, static_cast<const UpdateResult*>(payload.get()));
}

void SettingsDialogProc::on_destroy(DialogHost& d) {
  g_update_check_running.store(0);
  g_settings_dialog.settings_window = nullptr;
  g_settings_dialog.capturing_shortcut = 0;
}

bool SettingsDialogProc::is_link(int id) const { return id == ID_UPDATE_LINK; }

int show_settings_dialog(Config* config) {
  if (g_settings_dialog.settings_window) {
    g_settings_dialog.settings_window->bring_to_front();
    return 0;
  }
  std::vector<uint8_t> t = build_settings_template();
  if (t.empty()) return -1;
  SettingsDialogProc proc(config);
  return run_dialog(t, &proc, nullptr);
}
