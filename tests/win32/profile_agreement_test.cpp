// The configuration store reads and writes its INI through the system's
// profile-string functions on Windows and through the own reader and writer
// elsewhere. Both must give the store the same answers on its edge cases.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "settings/config_store.h"
#include "settings/ini_store.h"
#include "settings/profile.h"
#include "win32_temp.h"

namespace {
constexpr char kMissing[] = "__FRELVANTA_MISSING_KEY__";

// Sections in both letter cases, a repeated section and key, blanks around
// names and values, quotes, comments, empty and non-numeric values, numbers
// at the edges of the signed range.
const char kFile[] =
    "; written by hand\r\n"
    "[Frelvanta]\r\n"
    "VideoMaxFramerate=-1\r\n"
    "MouseCursor = 0 \r\n"
    "OutputFolder=\r\n"
    "Quoted=\"  spaced  \"\r\n"
    "Spaces=   inner  space   \r\n"
    "Trailing=abc42\r\n"
    "Lead=  42abc\r\n"
    "Plus=+17\r\n"
    "Neg=-5\r\n"
    "MinusOne=-1\r\n"
    "IntMax=2147483647\r\n"
    "IntMaxPlusOne=2147483648\r\n"
    "UintMax=4294967295\r\n"
    "Zero=0\r\n"
    "Text=hello world\r\n"
    "Dup=first\r\n"
    "dup=second\r\n"
    "VideoCodec=h264\r\n"
    "Equals=a=b\r\n"
    "\r\n"
    "[zelk]\r\n"
    "VideoMaxFramerate=30\r\n"
    "OnlyInZelk=7\r\n"
    "OutputFolder=C:/old\r\n"
    "[frelvanta]\r\n"
    "Later=in the repeated section\r\n";

const std::vector<std::pair<const char*, const char*>> kQueries = {
    {"frelvanta", "VideoMaxFramerate"}, {"frelvanta", "mousecursor"},   {"frelvanta", "OutputFolder"},
    {"frelvanta", "Quoted"},            {"frelvanta", "Spaces"},        {"frelvanta", "Trailing"},
    {"frelvanta", "Lead"},              {"frelvanta", "Plus"},          {"frelvanta", "Neg"},
    {"frelvanta", "MinusOne"},          {"frelvanta", "IntMax"},        {"frelvanta", "IntMaxPlusOne"},
    {"frelvanta", "UintMax"},           {"frelvanta", "Zero"},          {"frelvanta", "Text"},
    {"frelvanta", "Dup"},               {"frelvanta", "VideoCodec"},    {"frelvanta", "Equals"},
    {"frelvanta", "Absent"},            {"frelvanta", "OnlyInZelk"},    {"frelvanta", "Later"},
    {"ZELK", "VideoMaxFramerate"},      {"zelk", "OnlyInZelk"},         {"zelk", "OutputFolder"},
    {"nosuchsection", "Text"},
};

TEST(ProfileAgreement, ReadersGiveTheSameStringsAndNumbers) {
  Win32TempDir dir;
  std::string path = dir / "agree.ini";
  write_bytes(path, kFile);
  for (const auto& [section, key] : kQueries) {
    SCOPED_TRACE(std::string(section) + "/" + key);
    EXPECT_EQ(profile_get_string(path, section, key, kMissing), ini_get_string(path, section, key, kMissing));
    EXPECT_EQ(profile_get_int(path, section, key, -1), ini_get_int(path, section, key, -1));
  }
  // A missing file gives the fallbacks.
  std::string none = dir / "none.ini";
  EXPECT_EQ(profile_get_string(none, "frelvanta", "Text", kMissing), kMissing);
  EXPECT_EQ(profile_get_int(none, "frelvanta", "Text", -1), 0xFFFFFFFFu);
}

// Writes through both writers on copies of one file; afterwards both readers
// see the same values everywhere, in the changed section and in the others.
TEST(ProfileAgreement, WritersLeaveFilesThatReadTheSame) {
  Win32TempDir dir;
  const std::string start =
      "; keep me\r\n[other]\r\nKey=untouched\r\n[FRELVANTA]\r\nvideobitrate=1\r\nAudioMixMode=2\r\n"
      "Unknown=stays\r\n\r\n[zelk]\r\nVideoBitrate=5\r\n";
  std::string sys = dir / "sys.ini", own = dir / "own.ini", fresh_sys = dir / "fresh_sys.ini",
              fresh_own = dir / "fresh_own.ini";
  write_bytes(sys, start);
  write_bytes(own, start);
  const std::vector<ProfileWrite> writes = {
      {"VideoBitrate", "8000"}, {"NewKey", "new value"}, {"AudioMixMode", std::nullopt}, {"Empty", ""},
      {"NotThere", std::nullopt}};
  profile_put_strings(sys, "frelvanta", writes);
  for (const ProfileWrite& w : writes) {
    ini_put_string(own, "frelvanta", w.first, w.second ? &*w.second : nullptr);
  }
  // A new file, too: both create it with the section.
  profile_put_strings(fresh_sys, "frelvanta", writes);
  for (const ProfileWrite& w : writes) {
    ini_put_string(fresh_own, "frelvanta", w.first, w.second ? &*w.second : nullptr);
  }

  const std::vector<std::pair<const char*, const char*>> probes = {
      {"frelvanta", "VideoBitrate"}, {"frelvanta", "NewKey"},  {"frelvanta", "AudioMixMode"},
      {"frelvanta", "Empty"},        {"frelvanta", "Unknown"}, {"frelvanta", "NotThere"},
      {"other", "Key"},              {"zelk", "VideoBitrate"}};
  for (const auto& [a, b] : {std::pair{sys, own}, std::pair{fresh_sys, fresh_own}}) {
    for (const auto& [section, key] : probes) {
      SCOPED_TRACE(a + " " + section + "/" + key);
      std::string expected = ini_get_string(b, section, key, kMissing);
      EXPECT_EQ(profile_get_string(a, section, key, kMissing), expected);
      EXPECT_EQ(ini_get_string(a, section, key, kMissing), expected);
    }
  }
  EXPECT_EQ(ini_get_string(sys, "frelvanta", "VideoBitrate", ""), "8000");
  EXPECT_EQ(ini_get_string(sys, "frelvanta", "AudioMixMode", kMissing), kMissing);
  EXPECT_NE(read_bytes(sys).find("; keep me"), std::string::npos);
}

// The store's own edge cases, loaded through the system's functions.
TEST(ProfileAgreement, ConfigStoreEdgeCasesThroughTheSystem) {
  Win32TempDir dir;
  auto load = [&dir](const std::string& body) {
    std::string path = dir / "load.ini";
    write_bytes(path, body);
    Config c;
    c.OutputFolder = "C:/videos";
    config_load(&c, path);
    return c;
  };
  Config c = load("[zelk]\r\nMouseCursor=0\r\nOutputFolder=C:/old\r\nVideoCodec=H265\r\nVideoProfile=Main\r\n"
                  "AudioSamplerate=44100\r\n");
  EXPECT_EQ(c.MouseCursor, 0u);
  EXPECT_EQ(c.OutputFolder, "C:/old");
  EXPECT_EQ(c.VideoCodec, VIDEO_CODEC_H265);
  EXPECT_EQ(c.VideoProfile, VIDEO_PROFILE_MAIN);
  EXPECT_EQ(c.AudioSamplerate, 44100u);

  c = load("[frelvanta]\r\nVideoBitrate=9000\r\nVideoMaxFramerate=-1\r\nOutputFolder=\r\n"
           "[zelk]\r\nVideoBitrate=4000\r\nVideoMaxFramerate=30\r\nOutputFolder=C:/old\r\n");
  EXPECT_EQ(c.VideoBitrate, 9000u);
  EXPECT_EQ(c.VideoMaxFramerate, 30u);
  EXPECT_EQ(c.OutputFolder, "C:/videos");  // empty in the new section: no fallback, keeps the folder

  struct Case {
    const char* body;
    uint32_t Config::*field;
    uint32_t expected;
  };
  const Case cases[] = {
      {"VideoMaxFramerate=-5", &Config::VideoMaxFramerate, 60},
      {"VideoMaxFramerate=500", &Config::VideoMaxFramerate, 240},
      {"VideoMaxFramerate=0", &Config::VideoMaxFramerate, 0},
      {"VideoMaxFramerate=2147483648", &Config::VideoMaxFramerate, 60},
      {"VideoCodec=h264\r\nVideoProfile=Main", &Config::VideoCodec, VIDEO_CODEC_H264},
      {"VideoCodec=AV1\r\nVideoProfile=High", &Config::VideoProfile, VIDEO_PROFILE_MAIN10},
      {"AudioSamplerate=22050", &Config::AudioSamplerate, 48000},
      {"AudioBitrate=100", &Config::AudioBitrate, 160},
      {"AudioChannels=3", &Config::AudioChannels, 2},
      {"LimitLength=0\r\nEnableLimitLength=1", &Config::EnableLimitLength, 0},
      {"LastPreset=0", &Config::LastPreset, 0},
      {"LastPreset=7", &Config::LastPreset, 1},
      {"FragmentedOutput=0", &Config::FragmentedOutput, 1},
      {"FragmentedOutput=0\r\nFragmentedOutputSet=1", &Config::FragmentedOutput, 0},
      {"MouseCursor=yes", &Config::MouseCursor, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.body);
    EXPECT_EQ(load(std::string("[frelvanta]\r\n") + k.body + "\r\n").*k.field, k.expected);
  }
}

TEST(ProfileAgreement, SaveWritesThroughTheSystem) {
  Win32TempDir dir;
  g_app.ini_path = dir / "frelvanta.ini";
  write_bytes(g_app.ini_path, "[frelvanta]\r\nAudioMixMode=1\r\nUnknown=kept\r\n[mine]\r\nx=1\r\n");
  Config c;
  c.OutputFolder = "C:/videos";
  c.VideoCodec = VIDEO_CODEC_AV1;
  config_save(c);
  EXPECT_EQ(ini_get_string(g_app.ini_path, "frelvanta", "FragmentedOutputSet", ""), "1");
  EXPECT_EQ(ini_get_string(g_app.ini_path, "frelvanta", "AudioMixMode", kMissing), kMissing);
  EXPECT_EQ(ini_get_string(g_app.ini_path, "frelvanta", "VideoCodec", ""), "AV1");
  EXPECT_EQ(ini_get_string(g_app.ini_path, "frelvanta", "Unknown", ""), "kept");
  EXPECT_EQ(ini_get_string(g_app.ini_path, "mine", "x", ""), "1");
  Config back;
  config_load(&back, g_app.ini_path);
  EXPECT_EQ(back.VideoCodec, VIDEO_CODEC_AV1);
  EXPECT_EQ(back.OutputFolder, "C:/videos");
  g_app.ini_path.clear();
}
}  // namespace
