// The settings dialog's procedure in a fake host: what it shows, what OK
// stores, and the actions it hosts.
#include "dialogs/settings_dialog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "core/app_state.h"
#include "core/ui_service.h"
#include "core/trace.h"
#include "settings/config_store.h"
#include "settings/fake_dialog_host.h"
#include "dialogs/settings_ids.h"
#include "dialogs/update_check.h"
#include "support/temp_dir.h"

namespace {
int g_unregistered = 0;
int g_registered = 0;
std::vector<std::pair<std::string, std::string>> g_mics;

uint32_t fake_microphones(std::string* names, std::string* ids, uint32_t max) {
  uint32_t n = 0;
  for (auto& m : g_mics) {
    if (n == max) break;
    names[n] = m.first;
    ids[n] = m.second;
    ++n;
  }
  return n;
}
bool app_audio_yes() { return true; }
void count_unregister() { ++g_unregistered; }
void count_register() { ++g_registered; }
// Enough of a display text for the tests to tell values apart.
std::string hex_shortcut(uint32_t v) {
  if (v == 0) return "[none]";
  char buf[32];
  snprintf(buf, sizeof buf, "key %08x", v);
  return buf;
}

std::map<std::string, std::string> ini_values(const std::string& path) {
  std::map<std::string, std::string> out;
  std::istringstream in(read_text(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    g_settings_dialog = SettingsDialogState{};
    g_update_check_running.store(0);
    g_unregistered = g_registered = 0;
    g_mics = {{"Desk Mic", "alsa_input.desk"}, {"", "alsa_input.noname"}, {"Headset", "bluez_input.headset"}};
    SettingsDialogServices s;
    s.enumerate_microphones = fake_microphones;
    s.application_audio_supported = app_audio_yes;
    s.unregister_shortcuts = count_unregister;
    s.register_shortcuts = count_register;
    s.format_shortcut = hex_shortcut;
    s.capabilities = PlatformCapabilities{true, false, false};
    set_settings_dialog_services(s);
    FakeDialogRunner::install();
    config_set_defaults(&config);
    config.OutputFolder = dir.path();
  }
  void TearDown() override {
    set_dialog_runner(nullptr);
    set_settings_dialog_services(SettingsDialogServices{});
  }
  // Opens the dialog on `config` and runs `script` in it.
  int open(std::function<void(FakeDialogHost&)> script) {
    FakeDialogRunner::scripts["settings"] = std::move(script);
    return show_settings_dialog(&config);
  }

  TempDir dir;
  Config config;
};
}  // namespace

TEST_F(SettingsDialogTest, FillShowsTheRecord) {
  config.MouseCursor = 0;
  config.HardwareEncoder = 0;
  config.HardwarePreferIntegrated = 1;
  config.StartDelaySec = 9;  // shown as at most 5
  config.EnableLimitLength = 1;
  config.LimitLength = 90;
  config.VideoCodec = VIDEO_CODEC_H265;
  config.VideoProfile = VIDEO_PROFILE_HIGH;  // not an H265 profile: the last entry is shown
  config.LastPreset = 7;
  config.AudioSamplerate = 44100;
  config.AudioBitrate = 128;
  config.AudioChannels = 1;
  config.MicrophoneVolume = 250;
  config.MicrophoneDeviceId = "bluez_input.headset";
  config.CaptureAudio = 0;
  open([&](FakeDialogHost& d) {
    EXPECT_FALSE(d.is_checked(ID_MOUSE_CURSOR));
    EXPECT_EQ(d.list_texts(ID_HARDWARE_PREFERENCE), (std::vector<std::string>{"Prefer iGPU", "Prefer dGPU"}));
    EXPECT_EQ(d.list_selection(ID_HARDWARE_PREFERENCE), 0);
    EXPECT_FALSE(d.item_enabled(ID_HARDWARE_PREFERENCE)) << "follows the GPU encoder check box";
    EXPECT_EQ(d.item_text(ID_START_DELAY), "5");
    EXPECT_EQ(d.item_text(ID_OUTPUT_FOLDER), dir.path());
    EXPECT_TRUE(d.item_enabled(ID_LIMIT_LENGTH_VALUE));
    EXPECT_EQ(d.item_text(ID_LIMIT_LENGTH_VALUE), "90");
    EXPECT_FALSE(d.item_enabled(ID_LIMIT_SIZE_VALUE));
    EXPECT_EQ(d.selected_text(ID_VIDEO_CODEC), "H265 / HEVC");
    EXPECT_EQ(d.list_texts(ID_VIDEO_PROFILE), (std::vector<std::string>{"Main (8-bit)", "Main10 (10-bit)"}));
    EXPECT_EQ(d.list_selection(ID_VIDEO_PROFILE), 1);
    EXPECT_EQ(d.selected_text(ID_PRESET), "Quality");
    EXPECT_EQ(d.item_text(ID_MAX_WIDTH), "1920");
    EXPECT_EQ(d.selected_text(ID_AUDIO_CODEC), "AAC");
    EXPECT_EQ(d.selected_text(ID_AUDIO_CHANNELS), "1");
    EXPECT_EQ(d.selected_text(ID_AUDIO_SAMPLERATE), "44100");
    EXPECT_EQ(d.list_texts(ID_AUDIO_BITRATE), (std::vector<std::string>{"96", "128", "160", "192"}));
    EXPECT_EQ(d.selected_text(ID_AUDIO_BITRATE), "128");
    EXPECT_EQ(d.item_text(ID_MIC_VOLUME), "200");
    EXPECT_EQ(d.list_texts(ID_MIC_DEVICE),
              (std::vector<std::string>{"[default]", "Desk Mic", "[unknown]", "Headset"}));
    EXPECT_EQ(d.list_data(ID_MIC_DEVICE, 2), "alsa_input.noname");
    EXPECT_EQ(d.selected_text(ID_MIC_DEVICE), "Headset");
    EXPECT_EQ(d.item_text(ID_SHORTCUT_MONITOR), hex_shortcut(config.ShortcutMonitor));
    EXPECT_EQ(d.item_text(ID_SHORTCUT_PAUSE), hex_shortcut(config.ShortcutPause));
    // What this platform can honour.
    EXPECT_TRUE(d.item_enabled(ID_MOUSE_CURSOR));
    EXPECT_FALSE(d.item_enabled(ID_RECORDING_BORDER));
    EXPECT_FALSE(d.item_enabled(ID_ROUNDED_CORNERS));
    EXPECT_FALSE(d.item_enabled(ID_APPLICATION_AUDIO)) << "needs Capture Audio";
    d.click(ID_CAPTURE_AUDIO);
    EXPECT_TRUE(d.item_enabled(ID_APPLICATION_AUDIO));
    EXPECT_EQ(d.item_text(ID_UPDATE_LINK), "Check For Updates");
    EXPECT_TRUE(d.item_enabled(ID_UPDATE_LINK));
    EXPECT_TRUE(d.proc->is_link(ID_UPDATE_LINK));
    EXPECT_EQ(g_settings_dialog.settings_window, &d);
    d.click(ID_CANCEL);
  });
  EXPECT_EQ(g_settings_dialog.settings_window, nullptr);
}

TEST_F(SettingsDialogTest, OkStoresEverySettingInTheIni) {
  g_app.ini_path = dir.file("frelvanta.ini");
  config_save(config);
  std::map<std::string, std::string> before = ini_values(g_app.ini_path);
  std::string folder = dir.path() + "/clips";
  int result = open([&](FakeDialogHost& d) {
    for (int id : {20, 30, 40, 50, 80, 110, 120, 130, 140, 160, 200, 210, 265, 300, 310, 360}) d.click(id);
    d.click(ID_HARDWARE_ENCODER);  // off
    d.choose(ID_HARDWARE_PREFERENCE, 0);
    d.type(ID_START_DELAY, "3");
    d.type(ID_OUTPUT_FOLDER, folder);
    d.type(ID_LIMIT_LENGTH_VALUE, "120");
    d.type(ID_LIMIT_SIZE_VALUE, "700");
    d.choose(ID_VIDEO_CODEC, 2);
    d.choose(ID_VIDEO_PROFILE, 0);
    d.choose(ID_PRESET, 0);
    d.type(ID_MAX_WIDTH, "1600");
    d.type(ID_MAX_HEIGHT, "900");
    d.type(ID_MAX_FRAMERATE, "50");
    d.type(ID_VIDEO_BITRATE, "6000");
    d.choose(ID_AUDIO_CHANNELS, 0);
    d.choose(ID_AUDIO_SAMPLERATE, 0);
    d.choose(ID_AUDIO_BITRATE, 3);
    d.choose(ID_MIC_DEVICE, 1);
    d.type(ID_MIC_VOLUME, "150");
    d.click(ID_SHORTCUT_WINDOW);
    EXPECT_TRUE(d.key_up(0x78, SHORTCUT_CTRL | SHORTCUT_SHIFT));
    d.click(ID_SHORTCUT_PAUSE);
    EXPECT_TRUE(d.key_up(8, 0));
    d.click(ID_OK);
  });
  ASSERT_EQ(result, 1);
  config_save(config);
  std::map<std::string, std::string> after = ini_values(g_app.ini_path);
  std::map<std::string, std::string> expected = before;
  for (const char* key : {"MouseCursor", "OnlyClientArea", "ShowRecordingBorder", "KeepRoundedWindowCorners",
                          "ShowStartCountdownOverlay", "OpenFolder", "FragmentedOutput", "EnableLimitLength",
                          "EnableLimitSize", "WriteDiagnostics", "GammaCorrectResize", "ImprovedColorConversion",
                          "CaptureAudio", "ApplicationLocalAudio", "CaptureMicrophone", "HardwareEncoder",
                          "ConstantFrameRate"})
    expected[key] = before[key] == "1" ? "0" : "1";
  expected["HardwarePreferIntegrated"] = "1";
  expected["StartDelaySec"] = "3";
  expected["OutputFolder"] = folder;
  expected["LimitLength"] = "120";
  expected["LimitSize"] = "700";
  expected["VideoCodec"] = "AV1";
  expected["VideoProfile"] = "Main";
  expected["LastPreset"] = "0";
  expected["VideoMaxWidth"] = "1600";
  expected["VideoMaxHeight"] = "900";
  expected["VideoMaxFramerate"] = "50";
  expected["VideoBitrate"] = "6000";
  expected["AudioChannels"] = "1";
  expected["AudioSamplerate"] = "44100";
  expected["AudioBitrate"] = "192";
  expected["MicrophoneDeviceId"] = "alsa_input.desk";
  expected["MicrophoneVolume"] = "150";
  expected["ShortcutWindow"] = std::to_string(0x78 | SHORTCUT_CTRL | SHORTCUT_SHIFT);
  expected["ShortcutPause"] = "0";
  for (auto& [key, value] : expected) EXPECT_EQ(after[key], value) << key;
  EXPECT_EQ(after.size(), expected.size());
  EXPECT_EQ(g_unregistered, 2);
  EXPECT_EQ(g_registered, 2) << "each finished capture registers the shortcuts again";
}

TEST_F(SettingsDialogTest, CancelLeavesConfigAndNumbersAreClampedOnOk) {
  Config original = config;
  EXPECT_EQ(open([](FakeDialogHost& d) {
              d.type(ID_MAX_WIDTH, "1");
              d.click(ID_CANCEL);
            }),
            0);
  EXPECT_EQ(config.VideoMaxWidth, original.VideoMaxWidth);
  EXPECT_EQ(open([](FakeDialogHost& d) {
              d.type(ID_START_DELAY, "9");
              d.type(ID_MIC_VOLUME, "250");
              d.type(ID_MAX_HEIGHT, "");
              d.type(ID_LIMIT_SIZE_VALUE, "12x");
              d.click(ID_OK);
            }),
            1);
  EXPECT_EQ(config.StartDelaySec, 5u);
  EXPECT_EQ(config.MicrophoneVolume, 200u);
  EXPECT_EQ(config.VideoMaxHeight, 0u) << "an empty field reads as 0";
  EXPECT_EQ(config.LimitSize, 0u) << "an invalid field reads as 0";
}

TEST_F(SettingsDialogTest, CodecPresetAndFlacRules) {
  config.AudioBitrate = 96;
  int result = open([&](FakeDialogHost& d) {
    d.choose(ID_VIDEO_CODEC, VIDEO_CODEC_H265);
    EXPECT_EQ(d.list_texts(ID_VIDEO_PROFILE), (std::vector<std::string>{"Main (8-bit)", "Main10 (10-bit)"}));
    EXPECT_EQ(d.list_selection(ID_VIDEO_PROFILE), 1);
    d.choose(ID_VIDEO_CODEC, VIDEO_CODEC_AV1);
    EXPECT_EQ(d.list_texts(ID_VIDEO_PROFILE), (std::vector<std::string>{"Main (8-bit)", "Main (10-bit)"}));
    d.choose(ID_VIDEO_CODEC, VIDEO_CODEC_H264);
    EXPECT_EQ(d.selected_text(ID_VIDEO_PROFILE), "High");

    d.choose(ID_PRESET, 2);
    EXPECT_EQ(d.item_text(ID_MAX_WIDTH), "2560");
    EXPECT_EQ(d.item_text(ID_MAX_HEIGHT), "1440");
    EXPECT_EQ(d.item_text(ID_MAX_FRAMERATE), "60");
    EXPECT_EQ(d.item_text(ID_VIDEO_BITRATE), "12000");
    d.choose(ID_PRESET, 0);
    EXPECT_EQ(d.item_text(ID_VIDEO_BITRATE), "4000");
    d.choose(ID_PRESET, 2);

    d.choose(ID_AUDIO_BITRATE, 3);  // 192, then FLAC: the stored 96 stays
    d.choose(ID_AUDIO_CODEC, AUDIO_CODEC_FLAC);
    EXPECT_EQ(d.list_texts(ID_AUDIO_BITRATE), (std::vector<std::string>{"auto"}));
    EXPECT_EQ(d.list_selection(ID_AUDIO_BITRATE), 0);
    d.choose(ID_AUDIO_CODEC, AUDIO_CODEC_AAC);
    EXPECT_EQ(d.selected_text(ID_AUDIO_BITRATE), "96") << "back to AAC selects the stored bitrate";
    d.choose(ID_AUDIO_CODEC, AUDIO_CODEC_FLAC);
    d.click(ID_OK);
  });
  ASSERT_EQ(result, 1);
  EXPECT_EQ(config.LastPreset, 2u);
  EXPECT_EQ(config.VideoMaxWidth, 2560u);
  EXPECT_EQ(config.VideoMaxHeight, 1440u);
  EXPECT_EQ(config.VideoMaxFramerate, 60u);
  EXPECT_EQ(config.VideoBitrate, 12000u);
  EXPECT_EQ(config.VideoProfile, VIDEO_PROFILE_HIGH);
  EXPECT_EQ(config.AudioCodec, AUDIO_CODEC_FLAC);
  EXPECT_EQ(config.AudioBitrate, 96u);
}

TEST_F(SettingsDialogTest, MicrophoneIdRules) {
  struct Case {
    const char* stored;
    const char* shown;
    const char* after_ok;
  } cases[] = {
      {"alsa_input.desk", "Desk Mic", "alsa_input.desk"},
      {"ALSA_INPUT.DESK", "[default]", ""},  // ids compare exactly
      {"gone.device", "[default]", ""},      // not in the list: replaced by an empty id on OK
      {"", "[default]", ""},
  };
  for (const Case& c : cases) {
    config.MicrophoneDeviceId = c.stored;
    open([&](FakeDialogHost& d) {
      EXPECT_EQ(d.selected_text(ID_MIC_DEVICE), c.shown) << c.stored;
      d.click(ID_OK);
    });
    EXPECT_EQ(config.MicrophoneDeviceId, c.after_ok) << c.stored;
  }
  g_mics.clear();  // no devices: only "[default]"
  config.MicrophoneDeviceId = "alsa_input.desk";
  open([&](FakeDialogHost& d) {
    EXPECT_EQ(d.list_texts(ID_MIC_DEVICE), (std::vector<std::string>{"[default]"}));
    d.click(ID_OK);
  });
  EXPECT_EQ(config.MicrophoneDeviceId, "");
}

TEST_F(SettingsDialogTest, ShortcutCaptureKeys) {
  config.ShortcutRect = 0x2C | SHORTCUT_SHIFT;
  open([&](FakeDialogHost& d) {
    d.click(ID_SHORTCUT_RECT);
    EXPECT_EQ(d.item_text(ID_SHORTCUT_RECT), "Press new shortcut, [ESC] to cancel, [BACKSPACE] to disable");
    EXPECT_EQ(g_settings_dialog.capturing_shortcut, ID_SHORTCUT_RECT);
    EXPECT_EQ(g_unregistered, 1);
    d.click(ID_SHORTCUT_MONITOR);  // a second button while capturing starts nothing
    EXPECT_EQ(g_settings_dialog.capturing_shortcut, ID_SHORTCUT_RECT);
    for (uint32_t modifier : {16u, 17u, 18u, 91u, 92u, 160u, 165u})
      EXPECT_FALSE(d.key_up(modifier, SHORTCUT_CTRL)) << "a modifier alone keeps capturing: " << modifier;
    EXPECT_EQ(d.capturing, ID_SHORTCUT_RECT);
    EXPECT_TRUE(d.key_up(27, SHORTCUT_CTRL));  // Esc: unchanged
    EXPECT_EQ(d.item_text(ID_SHORTCUT_RECT), hex_shortcut(0x2C | SHORTCUT_SHIFT));
    EXPECT_EQ(d.capturing, 0);
    EXPECT_EQ(g_settings_dialog.capturing_shortcut, 0);
    EXPECT_EQ(g_registered, 1);

    d.click(ID_SHORTCUT_RECT);
    EXPECT_TRUE(d.key_up(0x78, SHORTCUT_ALT | SHORTCUT_WIN));
    EXPECT_EQ(d.item_text(ID_SHORTCUT_RECT), hex_shortcut(0x78 | SHORTCUT_ALT | SHORTCUT_WIN));
    d.click(ID_SHORTCUT_RECT);
    EXPECT_TRUE(d.key_up(8, SHORTCUT_CTRL));  // Backspace: no shortcut
    EXPECT_EQ(d.item_text(ID_SHORTCUT_RECT), "[none]");
    EXPECT_EQ(config.ShortcutRect, 0x2C | SHORTCUT_SHIFT) << "Config changes only on OK";
    d.click(ID_OK);
  });
  EXPECT_EQ(config.ShortcutRect, 0u);
}

TEST_F(SettingsDialogTest, DefaultsDuringShortcutCapture) {
  config.VideoMaxWidth = 1234;
  config.ShortcutMonitor = 0x41 | SHORTCUT_CTRL;
  config.AudioCodec = AUDIO_CODEC_FLAC;
  Config defaults;
  config_set_defaults(&defaults);
  open([&](FakeDialogHost& d) {
    d.click(ID_SHORTCUT_MONITOR);
    ASSERT_EQ(d.capturing, ID_SHORTCUT_MONITOR);
    d.click(ID_DEFAULTS);
    EXPECT_EQ(d.capturing, 0) << "the capture ends";
    EXPECT_EQ(g_settings_dialog.capturing_shortcut, 0);
    EXPECT_EQ(g_registered, 1) << "the global shortcuts are registered again";
    EXPECT_EQ(d.item_text(ID_SHORTCUT_MONITOR), hex_shortcut(defaults.ShortcutMonitor));
    EXPECT_EQ(d.item_text(ID_MAX_WIDTH), std::to_string(defaults.VideoMaxWidth));
    EXPECT_EQ(d.selected_text(ID_AUDIO_CODEC), "AAC");
    EXPECT_EQ(d.selected_text(ID_AUDIO_BITRATE), std::to_string(defaults.AudioBitrate));
    EXPECT_EQ(d.list_count(ID_MIC_DEVICE), 4) << "the microphone list is not rebuilt";
    EXPECT_EQ(config.VideoMaxWidth, 1234u) << "Config waits for OK";
    d.click(ID_OK);
  });
  EXPECT_EQ(config.VideoMaxWidth, defaults.VideoMaxWidth);
  EXPECT_EQ(config.ShortcutMonitor, defaults.ShortcutMonitor);
}

TEST_F(SettingsDialogTest, CancelDuringCaptureRegistersShortcutsAgain) {
  open([&](FakeDialogHost& d) {
    d.click(ID_SHORTCUT_WINDOW);
    d.click(ID_CANCEL);
    EXPECT_EQ(d.capturing, 0);
  });
  EXPECT_EQ(g_unregistered, 1);
  EXPECT_EQ(g_registered, 1);
}

TEST_F(SettingsDialogTest, OneDialogAtATimeAndTheFolderPicker) {
  open([&](FakeDialogHost& d) {
    EXPECT_EQ(show_settings_dialog(&config), 0) << "a second request only brings the first forward";
    EXPECT_EQ(d.fronted, 2);
    d.click(ID_BROWSE_FOLDER);  // cancelled picker: unchanged
    EXPECT_EQ(d.item_text(ID_OUTPUT_FOLDER), dir.path());
    d.picked_folder = "/srv/videos";
    d.click(ID_BROWSE_FOLDER);
    EXPECT_EQ(d.item_text(ID_OUTPUT_FOLDER), "/srv/videos");
    d.click(ID_CANCEL);
  });
  EXPECT_EQ(FakeDialogRunner::opened.size(), 1u);
}

TEST_F(SettingsDialogTest, DeleteDiagnosticLogs) {
  TempDir trace_dir;
  set_run_trace_folder(trace_dir.path());
  std::string trace = run_trace_path();
  auto make = [](const std::string& p) { write_text(p, "x"); };
  open([&](FakeDialogHost& d) {
    d.click(ID_DELETE_LOGS);
    ASSERT_EQ(d.messages.size(), 1u);
    EXPECT_EQ(d.messages[0].text, "No diagnostic logs were found.");
    EXPECT_EQ(d.messages[0].caption, "Delete Diagnostic Logs");
    EXPECT_EQ(d.messages[0].type, MB_ICONINFORMATION);
    d.messages.clear();

    make(trace);
    make(dir.file("a.mp4.diag.txt"));
    make(dir.file("b.mp4.stoptrace.txt"));
    make(dir.file("c.mp4"));        // the recording itself stays
    make(dir.file("d.diag.txt"));   // not a recording's log
    std::filesystem::create_directory(dir.file("e.mp4.diag.txt"));  // a folder is not counted

    d.answers = {IDNO};
    d.click(ID_DELETE_LOGS);
    ASSERT_EQ(d.messages.size(), 1u);
    EXPECT_EQ(d.messages[0].text,
              "Delete 3 diagnostic log file(s)?\n\nThis removes frelvanta-runtrace.txt in " + trace_dir.path() +
                  " and the .diag.txt / .stoptrace.txt files in:\n\n" + dir.path() + "\n\nThis cannot be undone.");
    EXPECT_EQ(d.messages[0].type, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    EXPECT_TRUE(std::filesystem::exists(trace));
    EXPECT_TRUE(std::filesystem::exists(dir.file("a.mp4.diag.txt")));
    d.messages.clear();

    d.answers = {IDYES};
    d.click(ID_DELETE_LOGS);
    ASSERT_EQ(d.messages.size(), 2u);
    EXPECT_EQ(d.messages[1].text, "Deleted 3 diagnostic log file(s).");
    EXPECT_FALSE(std::filesystem::exists(trace));
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.mp4.diag.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("b.mp4.stoptrace.txt")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("c.mp4")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("d.diag.txt")));
    d.messages.clear();

    // A portable install keeps its run trace beside the executable.
    set_run_trace_folder("");
    make(dir.file("f.mp4.diag.txt"));
    d.answers = {IDNO};
    d.click(ID_DELETE_LOGS);
    ASSERT_FALSE(d.messages.empty());
    EXPECT_NE(d.messages[0].text.find("This removes frelvanta-runtrace.txt next to Frelvanta and the .diag.txt"),
              std::string::npos)
        << d.messages[0].text;
    d.click(ID_CANCEL);
  });
  set_run_trace_folder("");
}

TEST_F(SettingsDialogTest, UpdateResultHandling) {
  std::vector<std::string> update_texts;
  FakeDialogRunner::scripts["Frelvanta Update Available"] = [&](FakeDialogHost& d) {
    update_texts = {d.item_text(ID_UPDATE_VERSION), d.item_text(ID_UPDATE_DESCRIPTION)};
    d.click(ID_VIEW_UPDATE);
    EXPECT_EQ(d.opened_urls, (std::vector<std::string>{"https://example.test/get"}));
    EXPECT_TRUE(d.ended) << "View Update closes the dialog";
  };
  open([&](FakeDialogHost& d) {
    auto deliver = [&](std::shared_ptr<UpdateResult> r) {
      g_update_check_running.store(5);
      d.enable_item(ID_UPDATE_LINK, false);
      d.proc->on_message(d, MSG_UPDATE_RESULT, r);
      EXPECT_EQ(g_update_check_running.load(), 0u);
      EXPECT_TRUE(d.item_enabled(ID_UPDATE_LINK));
      EXPECT_EQ(d.item_text(ID_UPDATE_LINK), "Check For Updates");
    };
    deliver(nullptr);
    auto r = std::make_shared<UpdateResult>();
    r->error = "Update server returned HTTP 404.";
    deliver(r);
    r = std::make_shared<UpdateResult>();
    deliver(r);
    r = std::make_shared<UpdateResult>();
    r->ok = 1;
    r->version = "3.3";
    deliver(r);
    ASSERT_EQ(d.messages.size(), 4u);
    EXPECT_EQ(d.messages[0].text, "Update check failed.");
    EXPECT_EQ(d.messages[0].type, MB_ICONERROR);
    EXPECT_EQ(d.messages[1].text, "Update server returned HTTP 404.");
    EXPECT_EQ(d.messages[1].type, MB_ICONWARNING);
    EXPECT_EQ(d.messages[2].text, "Update check failed.");
    EXPECT_EQ(d.messages[2].type, MB_ICONWARNING);
    EXPECT_EQ(d.messages[3].text, "Frelvanta 3.3.0 is up to date.\nLatest available version: 3.3");
    EXPECT_EQ(d.messages[3].caption, "Frelvanta");
    EXPECT_EQ(d.messages[3].type, MB_ICONINFORMATION);
    r = std::make_shared<UpdateResult>();
    r->ok = r->newer = 1;
    r->version = "3.4.0";
    r->description = "Faster.";
    r->url = "https://example.test/get";
    deliver(r);
    EXPECT_EQ(d.messages.size(), 4u);
    d.click(ID_CANCEL);
  });
  EXPECT_EQ(update_texts, (std::vector<std::string>{"3.4.0", "Faster."}));
}

TEST_F(SettingsDialogTest, UpdateLinkWithoutServerContactsNothing) {
  UpdateEndpoint none;
  set_update_endpoint_for_tests(&none);
  open([&](FakeDialogHost& d) {
    d.proc->on_command(d, ID_UPDATE_LINK, STN_CLICKED);
    ASSERT_EQ(d.messages.size(), 1u);
    EXPECT_NE(d.messages[0].text.find("no update server"), std::string::npos) << d.messages[0].text;
    EXPECT_EQ(g_update_check_running.load(), 0u);
    EXPECT_TRUE(d.item_enabled(ID_UPDATE_LINK));
    d.click(ID_CANCEL);
  });
  set_update_endpoint_for_tests(nullptr);
}

TEST_F(SettingsDialogTest, DonateWithoutAddressesSaysSo) {
  FakeDialogRunner::scripts["Donate to Frelvanta"] = [&](FakeDialogHost& d) {
    EXPECT_EQ(d.list_count(ID_DONATE_LIST), 0);
    EXPECT_FALSE(d.item_enabled(ID_DONATE_COPY));
    EXPECT_NE(d.layout.items[0].text.find("no donation addresses"), std::string::npos) << d.layout.items[0].text;
    d.click(ID_OK);
  };
  open([](FakeDialogHost& d) {
    d.click(ID_DONATE);
    d.click(ID_CANCEL);
  });
  EXPECT_EQ(FakeDialogRunner::opened.size(), 2u);
  EXPECT_EQ(FakeDialogRunner::opened[1], "Donate to Frelvanta");
}
