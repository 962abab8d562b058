#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <regex>

#include "core/app_state.h"
#include "platform/text.h"
#include "recording/output_naming.h"
#include "support/temp_dir.h"

namespace {
const LocalTime kNoon{2025, 1, 1, 12, 0, 0, 0};

class OutputNamingTest : public ::testing::Test {
 protected:
  void SetUp() override { app_reset(); }
  void TearDown() override { app_reset(); }
  TempDir dir;
};

// Runs with the current directory inside `dir`.
class ExplicitOutputTest : public OutputNamingTest {
 protected:
  void SetUp() override {
    OutputNamingTest::SetUp();
    char buf[4096];
    saved_cwd_ = getcwd(buf, sizeof buf) ? buf : "/";
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(saved_cwd_.c_str()), 0);
    OutputNamingTest::TearDown();
  }

 private:
  std::string saved_cwd_;
};
}  // namespace

TEST_F(OutputNamingTest, TimestampNamesSkipEveryTakenCandidate) {
  struct Case {
    const char* what;
    std::vector<std::string> existing;  // files; a trailing '/' makes a folder
    std::string expected_stem;          // "" when no name is free
  };
  const Case cases[] = {
      {"empty folder", {}, "20250101_120000"},
      {"same second", {"20250101_120000.mp4"}, "20250101_120000_001"},
      {"leftover temporary file", {"20250101_120000.tmp.mp4"}, "20250101_120000_001"},
      {"folder with the final name", {"20250101_120000.mp4/"}, "20250101_120000_001"},
      {"mixed", {"20250101_120000.mp4", "20250101_120000_001.tmp.mp4", "20250101_120000_002.mp4"},
       "20250101_120000_003"},
      {"other second only", {"20250101_115959.mp4"}, "20250101_120000"},
  };
  for (const Case& c : cases) {
    TempDir folder;
    for (const std::string& e : c.existing) {
      if (e.back() == '/') ASSERT_EQ(mkdir((folder / e).c_str(), 0755), 0);
      else write_text(folder / e, "x");
    }
    ASSERT_TRUE(make_output_path(folder.path(), kNoon)) << c.what;
    EXPECT_EQ(g_app.recording.output_path, folder / (c.expected_stem + ".mp4")) << c.what;
    EXPECT_EQ(g_app.recording.temp_path, folder / (c.expected_stem + ".tmp.mp4")) << c.what;
  }

  // Month, day and time are zero-padded.
  ASSERT_TRUE(make_output_path(dir.path(), LocalTime{2026, 3, 4, 5, 6, 7, 0}));
  EXPECT_EQ(g_app.recording.output_path, dir / "20260304_050607.mp4");
}

TEST_F(OutputNamingTest, AllThousandNamesOfASecondTaken) {
  write_text(dir / "20250101_120000.mp4", "");
  for (int i = 1; i <= 998; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "20250101_120000_%03d.%s", i, i % 2 ? "mp4" : "tmp.mp4");
    write_text(dir / name, "");
  }
  ASSERT_TRUE(make_output_path(dir.path(), kNoon));
  EXPECT_EQ(g_app.recording.output_path, dir / "20250101_120000_999.mp4");
  write_text(dir / "20250101_120000_999.tmp.mp4", "");
  EXPECT_FALSE(make_output_path(dir.path(), kNoon));
  // The next second is free again.
  EXPECT_TRUE(make_output_path(dir.path(), LocalTime{2025, 1, 1, 12, 0, 1, 0}));
}

TEST_F(OutputNamingTest, NamesThatDoNotFitThePathLimitAreRefused) {
  // Folder of 236 units: the final name (259 units) fits, the temporary one not.
  std::string folder = dir.path();
  while (utf16_length(folder) < 190) folder += "/" + std::string(40, 'f');
  folder += "/" + std::string(236 - utf16_length(folder) - 1, 'g');
  ASSERT_EQ(utf16_length(folder), 236u);
  ASSERT_TRUE(ensure_folder(folder));
  EXPECT_FALSE(make_output_path(folder, kNoon));
  std::string shorter = folder.substr(0, folder.size() - 1);
  ASSERT_TRUE(ensure_folder(shorter));
  EXPECT_TRUE(make_output_path(shorter, kNoon));
  EXPECT_EQ(utf16_length(g_app.recording.temp_path), 259u);
}

TEST_F(OutputNamingTest, EnsureFolder) {
  write_text(dir / "file", "x");
  struct Case {
    std::string path;
    bool ok;
  };
  const Case cases[] = {
      {"", false},
      {dir.path(), true},
      {dir / "a/b/c", true},  // created with its parents
      {dir / "file", false},  // an existing file is not a folder
      {dir / "file/sub", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ensure_folder(c.path), c.ok) << c.path;
    if (c.ok) EXPECT_TRUE(std::filesystem::is_directory(c.path)) << c.path;
  }
}

TEST_F(OutputNamingTest, WritabilityProbeReportsTheSystemError) {
  write_text(dir / "file", "x");
  uint32_t error = 99;
  EXPECT_TRUE(test_folder_writable(dir.path(), &error));
  EXPECT_EQ(error, 0u);
  // The probe file is gone again.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  struct Case {
    std::string folder;
    uint32_t error;
    const char* text;
  };
  const Case cases[] = {
      {"", ENOENT, "No such file or directory"},
      {dir / "missing", ENOENT, "No such file or directory"},
      {dir / "file", ENOTDIR, "Not a directory"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(test_folder_writable(c.folder, &error)) << c.folder;
    EXPECT_EQ(error, c.error) << c.folder;
    EXPECT_EQ(system_error_text(error), c.text);
  }
  EXPECT_EQ(system_error_text(0x7fffffff).rfind("Unknown error", 0), 0u);

  if (geteuid() != 0) {  // permissions do not bind the superuser
    std::string ro = dir / "ro";
    ASSERT_EQ(mkdir(ro.c_str(), 0555), 0);
    EXPECT_FALSE(test_folder_writable(ro, &error));
    EXPECT_EQ(error, uint32_t(EACCES));
  }
}

TEST_F(ExplicitOutputTest, CommandLineOutputs) {
  write_text(dir / "existing.mp4", "x");
  write_text(dir / "taken.tmp.mp4", "x");
  write_text(dir / "file.txt", "x");
  ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
  const std::string long_name(256 - utf16_length(dir.path()) - 1, 'n');
  struct Case {
    std::string given;
    std::string output;  // relative to dir; "" means refused
    std::string temp;
  };
  const Case cases[] = {
      {"clip", "clip.mp4", "clip.tmp.mp4"},
      {"out.mkv", "out.mkv", "out.tmp.mp4"},
      {"OUT.MP4", "OUT.MP4", "OUT.tmp.mp4"},
      {"sub/dir/clip.mp4", "sub/dir/clip.mp4", "sub/dir/clip.tmp.mp4"},  // folders created
      {"./x/../clip2", "clip2.mp4", "clip2.tmp.mp4"},
      {dir / "abs", "abs.mp4", "abs.tmp.mp4"},
      {".hidden", ".hidden.mp4", ".hidden.tmp.mp4"},
      {"take 1.5 final", "take 1.5 final.mp4", "take 1.5 final.tmp.mp4"},
      {"a.b.c", "a.b.c", "a.b.tmp.mp4"},
      {"existing.mp4", "", ""},   // never overwritten
      {"existing", "", ""},       // becomes existing.mp4, which exists
      {"taken.mp4", "", ""},      // its temporary name is taken
      {"file.txt/clip.mp4", "", ""},
      {"", "", ""},
      {long_name, "", ""},  // 256 units + ".mp4" reaches 260
  };
  for (const Case& c : cases) {
    g_app.recording.output_path = g_app.recording.temp_path = "unchanged";
    g_app.cli_output_path = c.given;
    bool ok = prepare_explicit_output();
    EXPECT_EQ(ok, !c.output.empty()) << c.given;
    if (!ok) {
      EXPECT_EQ(g_app.recording.output_path, "unchanged") << c.given;
      continue;
    }
    EXPECT_EQ(g_app.recording.output_path, dir / c.output) << c.given;
    EXPECT_EQ(g_app.recording.temp_path, dir / c.temp) << c.given;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "sub/dir"));
  EXPECT_FALSE(exists(dir / "existing.tmp.mp4"));  // nothing created for refused names
}

TEST_F(ExplicitOutputTest, FolderOutputsGetTimestampNames) {
  ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
  const std::regex stamp("\\d{8}_\\d{6}(_\\d{3})?");
  for (const std::string given : {"folder", "folder/", "new/deeper/"}) {
    g_app.cli_output_path = given;
    ASSERT_TRUE(prepare_explicit_output()) << given;
    std::string folder = dir / (given.back() == '/' ? given.substr(0, given.size() - 1) : given);
    const std::string& out = g_app.recording.output_path;
    ASSERT_EQ(out.rfind(folder + "/", 0), 0u) << out;
    std::string stem = out.substr(folder.size() + 1, out.size() - folder.size() - 5);
    EXPECT_TRUE(std::regex_match(stem, stamp)) << out;
    EXPECT_EQ(out.substr(out.size() - 4), ".mp4");
    EXPECT_EQ(g_app.recording.temp_path, folder + "/" + stem + ".tmp.mp4");
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "new/deeper"));
}
