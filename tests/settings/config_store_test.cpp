#include "settings/config_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>

#include <algorithm>
#include <cctype>
#include <functional>
#include <sstream>
#include <vector>

#include "core/app_state.h"
#include "core/trace.h"
#include "settings/ini_store.h"
#include "support/temp_dir.h"

namespace {
// Loads `body` over defaults (with a fixed output folder, so the user's real
// folders never matter).
Config load_text(const TempDir& dir, const std::string& body) {
  std::string path = dir.file("load.ini");
  write_text(path, body);
  Config c;
  c.OutputFolder = "/videos";
  config_load(&c, path);
  return c;
}

std::vector<std::string> keys_in_order(const std::string& path) {
  std::vector<std::string> keys;
  std::istringstream in(read_text(path));
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) keys.push_back(line.substr(0, eq));
  }
  return keys;
}

// The keys a save writes, in the table's order.
std::vector<std::string> written_keys() {
  std::vector<std::string> keys;
  for (const IniKey& key : config_keys()) {
    if (key.kind != IniKeyKind::kRemoved) keys.push_back(key.name);
  }
  return keys;
}

// Sets `key`'s field to a value other than its default that loading keeps
// as it is (an accepted value, within the key's range, a profile the codec
// chosen the same way allows).
void set_other_than_default(Config* c, const IniKey& key) {
  const Config d;
  switch (key.kind) {
    case IniKeyKind::kBool:
      c->*key.number = d.*key.number ? 0 : 1;
      break;
    case IniKeyKind::kNumber:
      if (key.accepted) {
        const uint32_t* end = key.accepted + key.count;
        const uint32_t* at = std::find(key.accepted, end, d.*key.number);
        c->*key.number = at + 1 < end ? at[1] : key.accepted[0];
      } else {
        c->*key.number = d.*key.number < key.max ? d.*key.number + 1 : d.*key.number - 1;
      }
      break;
    case IniKeyKind::kChoice:
      c->*key.number = static_cast<uint32_t>((d.*key.number + 1) % key.count);
      break;
    case IniKeyKind::kText:
      c->*key.text = std::string("/other/") + key.name;
      break;
    case IniKeyKind::kMarker:
    case IniKeyKind::kRemoved:
      break;
  }
}

// Every field the table reads compares equal.
void expect_same_settings(const Config& got, const Config& want, const std::string& what) {
  for (const IniKey& key : config_keys()) {
    if (key.kind == IniKeyKind::kText) {
      EXPECT_EQ(got.*key.text, want.*key.text) << what << ": " << key.name;
    } else if (key.kind != IniKeyKind::kMarker && key.kind != IniKeyKind::kRemoved) {
      EXPECT_EQ(got.*key.number, want.*key.number) << what << ": " << key.name;
    }
  }
}

TEST(ConfigLoad, LegacySectionFallback) {
  TempDir dir;
  // Only older-engine keys: every one is read.
  Config c = load_text(dir,
                       "[zelk]\r\nMouseCursor=0\r\nOutputFolder=/old/videos\r\nVideoCodec=H265\r\n"
                       "VideoProfile=Main\r\nVideoBitrate=4000\r\nAudioSamplerate=44100\r\n"
                       "MicrophoneDeviceId=mic-7\r\n");
  EXPECT_EQ(c.MouseCursor, 0u);
  EXPECT_EQ(c.OutputFolder, "/old/videos");
  EXPECT_EQ(c.VideoCodec, VIDEO_CODEC_H265);
  EXPECT_EQ(c.VideoProfile, VIDEO_PROFILE_MAIN);
  EXPECT_EQ(c.VideoBitrate, 4000u);
  EXPECT_EQ(c.AudioSamplerate, 44100u);
  EXPECT_EQ(c.MicrophoneDeviceId, "mic-7");

  // Both sections: the new one wins, except where its value means "absent".
  c = load_text(dir,
                "[frelvanta]\nVideoBitrate=9000\nVideoMaxFramerate=-1\nLimitSize=\nOutputFolder=\n"
                "MicrophoneDeviceId=\n"
                "[zelk]\nVideoBitrate=4000\nVideoMaxFramerate=30\nLimitSize=77\nOutputFolder=/old\n"
                "MicrophoneDeviceId=old-mic\n");
  EXPECT_EQ(c.VideoBitrate, 9000u);
  EXPECT_EQ(c.VideoMaxFramerate, 30u);  // -1 means absent for numbers
  EXPECT_EQ(c.LimitSize, 77u);          // so does an empty number
  EXPECT_EQ(c.OutputFolder, "/videos");  // an empty string is present: no fallback, default kept
  EXPECT_EQ(c.MicrophoneDeviceId, "");
}

struct NormCase {
  const char* name;
  const char* body;  // section [frelvanta]
  uint32_t Config::*field;
  uint32_t expected;
};

const NormCase kNorm[] = {
    {"framerate -5 keeps default", "VideoMaxFramerate=-5", &Config::VideoMaxFramerate, 60},
    {"framerate 500 clamps", "VideoMaxFramerate=500", &Config::VideoMaxFramerate, 240},
    {"framerate 0 stays", "VideoMaxFramerate=0", &Config::VideoMaxFramerate, 0},
    {"framerate 2^31 keeps default", "VideoMaxFramerate=2147483648", &Config::VideoMaxFramerate, 60},
    {"framerate text reads 0", "VideoMaxFramerate=fast", &Config::VideoMaxFramerate, 0},
    {"width clamps", "VideoMaxWidth=20000", &Config::VideoMaxWidth, 16384},
    {"height clamps", "VideoMaxHeight=99999", &Config::VideoMaxHeight, 16384},
    {"codec lower case ignored", "VideoCodec=h264\nVideoProfile=Main", &Config::VideoCodec, VIDEO_CODEC_H264},
    {"unknown codec ignored", "VideoCodec=VP9", &Config::VideoCodec, VIDEO_CODEC_H264},
    {"AV1 with High becomes Main10", "VideoCodec=AV1\nVideoProfile=High", &Config::VideoProfile,
     VIDEO_PROFILE_MAIN10},
    {"H265 with Base becomes Main10", "VideoCodec=H265\nVideoProfile=Base", &Config::VideoProfile,
     VIDEO_PROFILE_MAIN10},
    {"H264 with Main10 becomes High", "VideoProfile=Main10", &Config::VideoProfile, VIDEO_PROFILE_HIGH},
    {"H264 Base stays", "VideoProfile=Base", &Config::VideoProfile, VIDEO_PROFILE_BASE},
    {"AV1 Main stays", "VideoCodec=AV1\nVideoProfile=Main", &Config::VideoProfile, VIDEO_PROFILE_MAIN},
    {"FLAC", "AudioCodec=FLAC", &Config::AudioCodec, AUDIO_CODEC_FLAC},
    {"samplerate 22050 ignored", "AudioSamplerate=22050", &Config::AudioSamplerate, 48000},
    {"samplerate 44100", "AudioSamplerate=44100", &Config::AudioSamplerate, 44100},
    {"audio bitrate 100 ignored", "AudioBitrate=100", &Config::AudioBitrate, 160},
    {"audio bitrate 96", "AudioBitrate=96", &Config::AudioBitrate, 96},
    {"channels 3 ignored", "AudioChannels=3", &Config::AudioChannels, 2},
    {"channels 0 ignored", "AudioChannels=0", &Config::AudioChannels, 2},
    {"channels 1", "AudioChannels=1", &Config::AudioChannels, 1},
    {"length limit 0 disables", "EnableLimitLength=1\nLimitLength=0", &Config::EnableLimitLength, 0},
    {"length limit kept", "EnableLimitLength=1\nLimitLength=30", &Config::EnableLimitLength, 1},
    {"size limit 0 disables", "EnableLimitSize=1\nLimitSize=0", &Config::EnableLimitSize, 0},
    {"preset 0", "LastPreset=0", &Config::LastPreset, 0},
    {"preset 7 ignored", "LastPreset=7", &Config::LastPreset, 1},
    {"fragmented off without marker", "FragmentedOutput=0", &Config::FragmentedOutput, 1},
    {"fragmented off with marker", "FragmentedOutput=0\nFragmentedOutputSet=1", &Config::FragmentedOutput, 0},
    {"fragmented off with marker 0", "FragmentedOutput=0\nFragmentedOutputSet=0", &Config::FragmentedOutput, 1},
    {"mic volume clamps", "MicrophoneVolume=500", &Config::MicrophoneVolume, 200},
    {"min fps 0 becomes 1", "MinAdaptiveFps=0", &Config::MinAdaptiveFps, 1},
    {"min bitrate 0 becomes 1", "MinAdaptiveBitrateKbps=0", &Config::MinAdaptiveBitrateKbps, 1},
    {"start delay clamps", "StartDelaySec=9", &Config::StartDelaySec, 5},
    {"boolean 2 is on", "MouseCursor=0\nHardwarePreferIntegrated=2", &Config::HardwarePreferIntegrated, 1},
    {"boolean 0 is off", "MouseCursor=0", &Config::MouseCursor, 0},
    {"boolean negative ignored", "MouseCursor=-3", &Config::MouseCursor, 1},
    {"shortcut 0 means none", "ShortcutPause=0", &Config::ShortcutPause, 0},
    {"constant frame rate off by default", "MouseCursor=0", &Config::ConstantFrameRate, 0},
    {"constant frame rate 1 is on", "ConstantFrameRate=1", &Config::ConstantFrameRate, 1},
};

TEST(ConfigLoad, NormalisationTable) {
  TempDir dir;
  for (const NormCase& n : kNorm) {
    Config c = load_text(dir, std::string("[frelvanta]\n") + n.body + "\n");
    EXPECT_EQ(c.*(n.field), n.expected) << n.name;
  }
}

TEST(ConfigLoad, MissingFileKeepsDefaultsAndEmptyFolderKeepsVideos) {
  TempDir dir;
  Config c;
  c.OutputFolder = "/videos";
  config_load(&c, dir.file("absent.ini"));
  Config d;
  d.OutputFolder = "/videos";
  EXPECT_EQ(c.VideoBitrate, d.VideoBitrate);
  EXPECT_EQ(c.FragmentedOutput, 1u);
  expect_same_settings(c, d, "missing file");
  EXPECT_EQ(load_text(dir, "[frelvanta]\nOutputFolder=\n").OutputFolder, "/videos");
  EXPECT_EQ(load_text(dir, "[frelvanta]\nOutputFolder=  /rec  \n").OutputFolder, "/rec");
}

TEST(ConfigDefaults, OutputFolderIsTheUsersVideos) {
  TempDir dir;
  std::string old_home = getenv("HOME") ? getenv("HOME") : "";
  std::string old_cfg = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
  setenv("HOME", dir.path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", dir.file("cfg").c_str(), 1);
  Config c;
  config_set_defaults(&c);
  EXPECT_EQ(c.OutputFolder, dir.file("Videos"));
  std::filesystem::create_directories(dir.file("cfg"));
  write_text(dir.file("cfg/user-dirs.dirs"), "XDG_VIDEOS_DIR=\"$HOME/Clips\"\n");
  config_set_defaults(&c);
  EXPECT_EQ(c.OutputFolder, dir.file("Clips"));
  EXPECT_EQ(c.VideoMaxFramerate, 60u);
  setenv("HOME", old_home.c_str(), 1);
  if (old_cfg.empty()) unsetenv("XDG_CONFIG_HOME");
  else setenv("XDG_CONFIG_HOME", old_cfg.c_str(), 1);
}

TEST(ConfigNormalize, TracesTheEffectiveValues) {
  TempDir dir;
  app_reset();
  set_run_trace_folder(dir.path());
  g_app.config.WriteDiagnostics = 1;
  g_app.config.VideoMaxFramerate = 0;
  g_app.config.EnableLimitLength = 1;
  g_app.config.LimitLength = 30;
  g_app.config.EnableLimitSize = 0;
  g_app.config.AudioChannels = 7;
  config_normalize(&g_app.config);
  g_app.config.VideoMaxFramerate = 500;
  g_app.config.VideoMaxWidth = 1280;
  g_app.config.VideoMaxHeight = 720;
  g_app.config.AudioSamplerate = 44100;
  g_app.config.EnableLimitSize = 1;
  g_app.config.LimitSize = 0;
  config_normalize(&g_app.config);
  std::string trace = read_text(dir.file("frelvanta-runtrace.txt"));
  EXPECT_NE(trace.find(" config.values fps=auto size=1920x1080 samplerate=48000 channels=2 limits=30/0\r\n"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find(" config.values fps=240 size=1280x720 samplerate=44100 channels=2 limits=30/0\r\n"),
            std::string::npos)
      << trace;
  set_run_trace_folder("");
  app_reset();
}

// A row that names a key twice (INI names ignore letter case) or a field
// twice would make one setting shadow another in the file.
TEST(ConfigKeys, EveryNameAndFieldOnce) {
  std::vector<std::string> names;
  std::vector<uint32_t Config::*> numbers;
  std::vector<std::string Config::*> texts;
  for (const IniKey& key : config_keys()) {
    std::string lower = key.name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
    EXPECT_EQ(std::count(names.begin(), names.end(), lower), 0) << key.name;
    names.push_back(lower);
    switch (key.kind) {
      case IniKeyKind::kBool:
      case IniKeyKind::kNumber:
      case IniKeyKind::kChoice:
        ASSERT_NE(key.number, nullptr) << key.name;
        EXPECT_EQ(std::count(numbers.begin(), numbers.end(), key.number), 0) << key.name;
        numbers.push_back(key.number);
        if (key.kind == IniKeyKind::kChoice) {
          EXPECT_TRUE(key.names && key.count > 0) << key.name;
        }
        EXPECT_LE(key.min, key.max) << key.name;
        break;
      case IniKeyKind::kText:
        ASSERT_NE(key.text, nullptr) << key.name;
        EXPECT_EQ(std::count(texts.begin(), texts.end(), key.text), 0) << key.name;
        texts.push_back(key.text);
        EXPECT_GT(key.count, 1u) << key.name;
        break;
      case IniKeyKind::kMarker:
        // The marked setting comes first, so that loading it first lets the
        // marker decide.
        EXPECT_EQ(std::count(numbers.begin(), numbers.end(), key.number), 1) << key.name;
        break;
      case IniKeyKind::kRemoved:
        break;
    }
  }
}

// Each setting alone away from its default survives a save and a load, and
// the defaults written over a record of such values load back as defaults:
// a key read into the wrong field, written from the wrong one, or dropped
// on either side shows here by name.
TEST(ConfigSave, EveryKeyRoundTrips) {
  TempDir dir;
  app_reset();
  g_app.ini_path = dir.file("frelvanta.ini");
  Config defaults;
  defaults.OutputFolder = "/videos";
  Config others = defaults;
  for (const IniKey& key : config_keys()) set_other_than_default(&others, key);
  for (const IniKey& key : config_keys()) {
    if (key.kind == IniKeyKind::kMarker || key.kind == IniKeyKind::kRemoved) continue;
    Config one = defaults;
    set_other_than_default(&one, key);
    if (key.number == &Config::VideoCodec || key.number == &Config::VideoProfile) {
      // A codec and a profile it allows.
      one.VideoCodec = others.VideoCodec;
      one.VideoProfile = others.VideoProfile;
    }
    std::remove(g_app.ini_path.c_str());
    config_save(one);
    Config back = defaults;
    config_load(&back, g_app.ini_path);
    expect_same_settings(back, one, std::string("only ") + key.name + " changed");
    if (key.kind == IniKeyKind::kText) {
      EXPECT_NE(back.*key.text, defaults.*key.text) << key.name;
    } else {
      EXPECT_NE(back.*key.number, defaults.*key.number) << key.name;
    }
  }

  std::remove(g_app.ini_path.c_str());
  config_save(others);
  Config back = defaults;
  config_load(&back, g_app.ini_path);
  expect_same_settings(back, others, "all changed");

  config_save(defaults);
  back = others;
  config_load(&back, g_app.ini_path);
  Config expected = defaults;
  // An empty text keeps the field.
  for (const IniKey& key : config_keys())
    if (key.kind == IniKeyKind::kText && (defaults.*key.text).empty()) expected.*key.text = others.*key.text;
  expect_same_settings(back, expected, "defaults over changed");
  app_reset();
}

TEST(ConfigSave, NewFileListsEveryKeyInOrderAndRoundTrips) {
  TempDir dir;
  app_reset();
  g_app.ini_path = dir.file("sub/folder/frelvanta.ini");  // folder created on save
  Config c;
  c.OutputFolder = "/home/u/Videos";
  c.FragmentedOutput = 0;
  c.VideoCodec = VIDEO_CODEC_AV1;
  c.VideoProfile = VIDEO_PROFILE_MAIN10;
  c.AudioCodec = AUDIO_CODEC_FLAC;
  c.MicrophoneDeviceId = "alsa_input.usb";
  c.ShortcutPause = 0;
  c.ConstantFrameRate = 1;
  c.SystemAudioDeviceId = "Monitor of Null Output";
  config_save(c);
  std::vector<std::string> keys = keys_in_order(g_app.ini_path);
  ASSERT_EQ(keys, written_keys());
  // The table's order is the file's; these pin its ends and size.
  EXPECT_EQ(keys.size(), 47u);
  EXPECT_EQ(keys.back(), "SystemAudioDeviceId");
  std::string text = read_text(g_app.ini_path);
  EXPECT_EQ(text.rfind("[frelvanta]\r\nMouseCursor=1\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("\r\nVideoCodec=AV1\r\nVideoProfile=Main10\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nFragmentedOutput=0\r\nFragmentedOutputSet=1\r\n"), std::string::npos);

  Config back;
  config_load(&back, g_app.ini_path);
  EXPECT_EQ(back.FragmentedOutput, 0u);
  EXPECT_EQ(back.VideoCodec, VIDEO_CODEC_AV1);
  EXPECT_EQ(back.VideoProfile, VIDEO_PROFILE_MAIN10);
  EXPECT_EQ(back.AudioCodec, AUDIO_CODEC_FLAC);
  EXPECT_EQ(back.OutputFolder, "/home/u/Videos");
  EXPECT_EQ(back.MicrophoneDeviceId, "alsa_input.usb");
  EXPECT_EQ(back.ShortcutPause, 0u);
  EXPECT_EQ(back.ConstantFrameRate, 1u);
  EXPECT_EQ(back.SystemAudioDeviceId, "Monitor of Null Output");
  app_reset();
}

TEST(ConfigSave, UpdatesInPlaceAndLeavesEverythingElse) {
  TempDir dir;
  app_reset();
  g_app.ini_path = dir.file("frelvanta.ini");
  write_text(g_app.ini_path,
             "; kept comment\r\n[other]\r\nVideoBitrate=1\r\n\r\n[Frelvanta]\r\nCustomKey=keep me\r\n"
             "videobitrate=1234\r\nAudioMixMode=2\r\n\r\n[zelk]\r\nAudioMixMode=1\r\n");
  Config c;
  c.OutputFolder = "/v";
  c.VideoBitrate = 6000;
  config_save(c);
  std::string text = read_text(g_app.ini_path);
  EXPECT_EQ(text.rfind("; kept comment\r\n[other]\r\nVideoBitrate=1\r\n\r\n[Frelvanta]\r\nCustomKey=keep me\r\n"
                       "VideoBitrate=6000\r\nMouseCursor=1\r\n",
                       0),
            0u)
      << text;
  EXPECT_EQ(text.find("AudioMixMode=2"), std::string::npos);
  // The older engine's section is not ours to clean.
  EXPECT_NE(text.find("\r\n\r\n[zelk]\r\nAudioMixMode=1\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ShortcutPause=100663376\r\nConstantFrameRate=0\r\nScreenCastRestoreToken=\r\nSystemAudioDeviceId=\r\n\r\n[zelk]"),
            std::string::npos)
      << text;
  app_reset();
}

TEST(ConfigSave, FirstUserFileHoldsEverySettingButTheEncoderChoice) {
  TempDir dir;
  app_reset();
  g_app.ini_path = dir.file("config/frelvanta/frelvanta.ini");  // no folder yet
  Config c;
  c.OutputFolder = "/home/u/Videos";
  c.HardwareEncoder = 0;  // decided for this machine, not chosen by the user
  config_create_user_file(c);
  std::vector<std::string> expected = written_keys();
  expected.erase(std::find(expected.begin(), expected.end(), "HardwareEncoder"));
  EXPECT_EQ(keys_in_order(g_app.ini_path), expected);
  EXPECT_NE(read_text(g_app.ini_path).find("\r\nOutputFolder=/home/u/Videos\r\n"), std::string::npos);
  app_reset();
}

TEST(ConfigIni, WriteUintGoesToTheLiveFile) {
  TempDir dir;
  app_reset();
  g_app.ini_path = dir.file("frelvanta.ini");
  ini_write_uint("LastPreset", 4294967295u);
  EXPECT_EQ(read_text(g_app.ini_path), "[frelvanta]\r\nLastPreset=4294967295\r\n");
  app_reset();
}

TEST(LegacyIni, NameTable) {
  const std::string long_folder = "/" + std::string(240, 'd');
  // Empty expectation: no legacy name.
  const std::pair<std::string, std::string> cases[] = {
      {"/opt/app/Frelvanta.ini", "/opt/app/zelk.ini"},
      {"/opt/app/frelvanta-portable.ini", "/opt/app/zelk-portable.ini"},
      {"/opt/app/FRELVANTA.INI", "/opt/app/zelk.INI"},
      {"/opt/app/frelvanta", "/opt/app/zelk"},
      {"/opt/app/recorder.ini", ""},
      {"/opt/app/frelvant.ini", ""},
      {"/opt/frelvanta/x.ini", ""},
      {long_folder + "/frelvanta-long-name.ini", ""},  // would not fit 260 units
      {long_folder + "/frelvanta.ini", long_folder + "/zelk.ini"},
      {"/" + std::string(250, 'd') + "/frelvanta.ini", ""},  // zelk.ini needs 260 units with its end
  };
  for (const auto& [ini, expected] : cases) {
    app_reset();
    g_app.ini_path = ini;
    std::string out = "junk";
    bool ok = legacy_ini_path(&out);
    EXPECT_EQ(ok, !expected.empty()) << ini;
    EXPECT_EQ(out, expected) << ini;
  }
  app_reset();
  g_app.ini_path = "/" + std::string(249, 'f') + "/frelvanta.ini";  // zelk.ini just fits
  std::string out;
  EXPECT_TRUE(legacy_ini_path(&out));
}

TEST(IniLocation, PortableOrUserFolders) {
  TempDir dir;
  std::string exe = dir.file("bin/frelvanta");
  std::filesystem::create_directories(dir.file("bin"));
  const std::string cfg = "/home/u/.config", state = "/home/u/.local/state";

  IniLocation w = choose_ini_location(exe, true, cfg, state);
  EXPECT_EQ(w.ini_path, dir.file("bin/frelvanta.ini"));
  EXPECT_EQ(w.trace_folder, dir.file("bin"));
  EXPECT_FALSE(w.in_user_folder);

  w = choose_ini_location(exe, false, cfg, state);
  EXPECT_EQ(w.ini_path, "/home/u/.config/frelvanta/frelvanta.ini");
  EXPECT_EQ(w.trace_folder, "/home/u/.local/state/frelvanta");
  EXPECT_TRUE(w.in_user_folder);

  // A read-only folder that already holds the INI stays a portable install.
  write_text(dir.file("bin/frelvanta.ini"), "[frelvanta]\n");
  w = choose_ini_location(exe, false, cfg, state);
  EXPECT_EQ(w.ini_path, dir.file("bin/frelvanta.ini"));
  EXPECT_EQ(w.trace_folder, "/home/u/.local/state/frelvanta");
  EXPECT_FALSE(w.in_user_folder);

  EXPECT_EQ(choose_ini_location("/opt/x/Frelvanta.bin", false, cfg, state).ini_path,
            "/home/u/.config/frelvanta/Frelvanta.ini");
  EXPECT_EQ(choose_ini_location("/opt/x/my.rec.exe", true, cfg, state).ini_path, "/opt/x/my.rec.ini");
  EXPECT_EQ(choose_ini_location("/opt/x/.hidden", true, cfg, state).ini_path, "/opt/x/.hidden.ini");
}

TEST(IniLocation, ProcessUsesTheRealFolderTest) {
  // The test executable's folder is writable here, so the INI goes beside it.
  IniLocation w = locate_ini_for_process();
  std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(w.ini_path, exe + ".ini");
  EXPECT_EQ(w.trace_folder, exe.substr(0, exe.rfind('/')));
}
}  // namespace

namespace {
// A settings file of `bytes` bytes: the keys of this test in section
// "frelvanta" (one repeated later, which must not count) and, around them,
// other sections of filler lines.
std::string large_ini(size_t bytes) {
  std::string text = "[frelvanta]\r\nVideoBitrate=4321\r\nVideoCodec=H265\r\nOutputFolder=/big\r\n";
  const std::string filler = "[filler]\r\nSomeKeyThatIsNotOurs=some value of a fair length\r\n";
  while (text.size() + filler.size() + 40 < bytes) text += filler;
  text += "[frelvanta]\r\nVideoBitrate=1\r\n";
  text.resize(bytes, ';');
  return text;
}
}  // namespace

// A large file is read once for all keys; a file over the limit is not
// read in part, the caller is told, and a save leaves it as it is.
TEST(ConfigLoad, LargeAndOversizeFiles) {
  TempDir dir;
  app_reset();
  const std::string path = dir.file("frelvanta.ini");
  write_text(path, large_ini(16'000'000));
  Config c;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(config_load(&c, path), ReadStatus::kOk);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::printf("[ figures ] config_load of a 16,000,000-byte INI: %.0f ms\n", ms);
  RecordProperty("load_16mb_ms", std::to_string(ms));
  EXPECT_EQ(c.VideoBitrate, 4321u);  // the first section of the name counts
  EXPECT_EQ(c.VideoCodec, VIDEO_CODEC_H265);
  EXPECT_EQ(c.OutputFolder, "/big");

  const std::string oversize = large_ini(kMaxIniBytes + 1);
  write_text(path, oversize);
  Config d;
  d.OutputFolder = "/videos";
  EXPECT_EQ(config_load(&d, path), ReadStatus::kTooLarge);
  EXPECT_EQ(d.VideoBitrate, 8000u);
  g_app.ini_path = path;
  config_save(d);
  ini_write_uint("LastPreset", 2);
  EXPECT_EQ(read_text(path), oversize);
  app_reset();
}

// A pipe at the INI's name: reported to the
// caller without blocking (a test that blocked would never end), and never
// replaced by a file holding only our keys.
TEST(ConfigLoad, PipeAtTheNameIsNotRead) {
  TempDir dir;
  app_reset();
  const std::string path = dir.file("frelvanta.ini");
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  Config c;
  c.OutputFolder = "/videos";
  EXPECT_EQ(config_load(&c, path), ReadStatus::kNotRegular);
  EXPECT_EQ(c.VideoBitrate, 8000u);
  g_app.ini_path = path;
  config_save(c);
  struct stat st {};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  app_reset();
}
