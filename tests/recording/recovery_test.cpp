#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <vector>

#include "core/app_state.h"
#include "core/ui_service.h"
#include "platform/files.h"
#include "recording/recovery.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

namespace {
constexpr const char* kHeader =
    "Frelvanta recovered recordings\r\n"
    "This file lists recordings that were still unfinished when Frelvanta last closed.\r\n"
    "They have been renamed so they can be played; nothing was deleted.\r\n"
    "\r\n";

// Real files from the encoder the recorder uses: once fragmented as the
// crash-safe setting writes them, once with the index at the end.
struct Samples {
  TempDir dir;
  std::string fragmented, plain;
  bool ok = false;
};
Samples* g_samples = nullptr;

bool make_sample(const std::string& out, const char* movflags) {
  std::string cmd =
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=d=1:s=160x120:r=10 -c:v libx264 -preset ultrafast "
      "-pix_fmt yuv420p ";
  if (movflags) cmd += std::string("-movflags ") + movflags + " ";
  cmd += "'" + out + "'";
  return std::system(cmd.c_str()) == 0;
}

std::string be32(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string box(const char* type, uint32_t size) {
  std::string b = be32(size) + type;
  b.resize(size < 8 ? 8 : size, '\0');
  return b;
}
std::string box64(const char* type, uint64_t size, size_t bytes) {
  std::string b = be32(1) + type + be32(uint32_t(size >> 32)) + be32(uint32_t(size));
  b.resize(bytes, '\0');
  return b;
}

bool walk(const std::string& bytes) {
  return mp4_prefix_is_crash_safe(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Moves the file's times back, so it counts as neither fresh nor newer than
// a log written now.
void age(const std::string& path, int seconds = 120) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  timespec times[2] = {now, now};
  times[0].tv_sec -= seconds;
  times[1].tv_sec -= seconds;
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// The log's entries without their date and time (which is checked here).
std::vector<std::string> log_entries(const std::string& log) {
  EXPECT_EQ(log.rfind(kHeader, 0), 0u);
  std::vector<std::string> out;
  static const std::regex line("(\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2})  (.*)");
  size_t pos = std::char_traits<char>::length(kHeader);
  while (pos < log.size()) {
    size_t end = log.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated log line";
      break;
    }
    std::string l = log.substr(pos, end - pos);
    std::smatch m;
    if (std::regex_match(l, m, line)) out.push_back(m[2]);
    else ADD_FAILURE() << "bad log line: " << l;
    pos = end + 2;
  }
  return out;
}

class RecoveryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_samples = new Samples;
    g_samples->fragmented = g_samples->dir / "fragmented.mp4";
    g_samples->plain = g_samples->dir / "plain.mp4";
    g_samples->ok = make_sample(g_samples->fragmented, "frag_keyframe+empty_moov+default_base_moof") &&
                    make_sample(g_samples->plain, nullptr);
  }
  static void TearDownTestSuite() {
    delete g_samples;
    g_samples = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(g_samples->ok) << "ffmpeg could not make the sample files";
    app_reset();
    g_app.config.OutputFolder = dir.path();
    g_ui_service = &ui;
  }
  void TearDown() override {
    g_ui_service = nullptr;
    app_reset();
  }

  // Puts a copy of a sample (or given bytes) in the output folder, aged.
  std::string put(const std::string& name, const std::string& bytes) {
    std::string path = dir / name;
    write_text(path, bytes);
    age(path);
    return path;
  }
  std::string fragmented() const { return read_text(g_samples->fragmented); }
  std::string plain() const { return read_text(g_samples->plain); }
  std::string log() const { return read_text(dir / "RECOVERED-RECORDINGS.txt"); }

  TempDir dir;
  FakeUi ui;
};
}  // namespace

TEST(Mp4BoxWalk, TopLevelLayouts) {
  struct Case {
    const char* what;
    std::string bytes;
    bool crash_safe;
  };
  const Case cases[] = {
      {"ftyp then moof", box("ftyp", 24) + box("moof", 16), true},
      {"ftyp, moov, moof (fragmented with an empty index)", box("ftyp", 24) + box("moov", 100) + box("moof", 16),
       true},
      {"moof without ftyp before it", box("moof", 16) + box("ftyp", 24) + box("moof", 16), false},
      {"ftyp and mdat only", box("ftyp", 24) + box("mdat", 200), false},
      {"index at the start, no fragments", box("ftyp", 24) + box("moov", 100) + box("mdat", 100), false},
      {"moof header cut after its type", box("ftyp", 24) + std::string(be32(16) + "moof"), true},
      {"moof header shorter than 8 bytes", box("ftyp", 24) + std::string(be32(16) + "moo"), false},
      {"64-bit size skips to moof", box("ftyp", 24) + box64("mdat", 40, 40) + box("moof", 16), true},
      {"64-bit size smaller than its header", box("ftyp", 24) + box64("mdat", 15, 16) + box("moof", 16), false},
      {"64-bit size cut before its value", box("ftyp", 24) + be32(1) + "mdat" + std::string(3, '\0'), false},
      {"64-bit size beyond the data", box("ftyp", 24) + box64("mdat", 1u << 20, 16) + box("moof", 16), false},
      {"64-bit size that would wrap the offset", box("ftyp", 24) + box64("mdat", 0xFFFFFFFFFFFFFFE8ull, 16) +
                                                     box("moof", 16), false},
      {"64-bit size of all ones", box("ftyp", 24) + box64("free", ~0ull, 16) + box("moof", 16), false},
      {"size 0 runs to the end", box("ftyp", 24) + box("mdat", 0) + std::string(40, '\0') + box("moof", 16), false},
      {"size 0 on the moof itself", box("ftyp", 24) + box("moof", 0), true},
      {"size below the header", box("ftyp", 24) + be32(7) + "free" + box("moof", 16), false},
      {"box running past the data", box("ftyp", 24) + box("mdat", 400).substr(0, 100), false},
      {"ftyp size 0 swallows the rest", box("ftyp", 0) + box("moof", 16), false},
      {"nothing", "", false},
      {"seven bytes", std::string(7, '\0'), false},
  };
  for (const Case& c : cases) EXPECT_EQ(walk(c.bytes), c.crash_safe) << c.what;

  // Never reads past the end: the bytes are in their own allocation, so a
  // sanitizer build catches any overrun.
  for (const Case& c : cases) {
    for (size_t n = 0; n <= c.bytes.size(); ++n) {
      std::vector<uint8_t> exact(c.bytes.begin(), c.bytes.begin() + n);
      mp4_prefix_is_crash_safe(exact.data(), exact.size());
    }
  }
}

TEST_F(RecoveryTest, CrashSafeDetectionOnRealFiles) {
  std::string frag = fragmented(), flat = plain();
  ASSERT_GE(frag.size(), 2048u);
  struct Case {
    const char* what;
    std::string bytes;
    bool crash_safe;
  };
  const Case cases[] = {
      {"fragmented", frag, true},
      {"fragmented, cut mid-file as by a crash", frag.substr(0, frag.size() * 6 / 10), true},
      {"fragmented, cut to 1,024 bytes", frag.substr(0, 1024), true},
      {"fragmented, cut to 1,023 bytes", frag.substr(0, 1023), false},  // too small to be tested
      {"index at the end", flat, false},
      {"index at the end, cut", flat.substr(0, flat.size() / 2), false},
      {"fragmented behind 64 KiB of padding",
       frag.substr(0, 28) + box("free", 65536) + frag.substr(28), false},
  };
  for (const Case& c : cases) {
    std::string path = dir / "probe.mp4";
    write_text(path, c.bytes);
    EXPECT_EQ(is_crash_safe_mp4(path), c.crash_safe) << c.what;
  }
  EXPECT_FALSE(is_crash_safe_mp4(dir / "missing.mp4"));
}

TEST_F(RecoveryTest, NothingHappensWithoutAUsableFolder) {
  for (std::string folder : {std::string(), dir / "missing", dir / "file"}) {
    write_text(dir / "file", "x");
    g_app.config.OutputFolder = folder;
    recover_unfinished_recordings();
  }
  // A folder with no temporary files: still no log.
  g_app.config.OutputFolder = dir.path();
  put("finished.mp4", fragmented());
  recover_unfinished_recordings();
  EXPECT_FALSE(exists(dir / "RECOVERED-RECORDINGS.txt"));
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(RecoveryTest, RecoversLogsAndReportsOnce) {
  put("A.tmp.mp4", fragmented());
  put("A.mp4", "an earlier recording");
  put("B.tmp.mp4", plain());
  put("C.tmp.mp4", fragmented().substr(0, 1023));
  put("D.TMP.MP4", fragmented());
  ASSERT_EQ(mkdir((dir / "E.tmp.mp4").c_str(), 0755), 0);  // folders are not files
  ASSERT_EQ(mkfifo((dir / "F.tmp.mp4").c_str(), 0644), 0);  // nor pipes: reading one would block
  const std::string a_bytes = fragmented();

  recover_unfinished_recordings();

  EXPECT_EQ(read_text(dir / "A-recovered-1.mp4"), a_bytes);
  EXPECT_EQ(read_text(dir / "A.mp4"), "an earlier recording");
  EXPECT_TRUE(exists(dir / "D.mp4"));
  EXPECT_FALSE(exists(dir / "A.tmp.mp4"));
  EXPECT_FALSE(exists(dir / "D.TMP.MP4"));
  EXPECT_TRUE(exists(dir / "B.tmp.mp4"));  // left untouched
  EXPECT_TRUE(exists(dir / "C.tmp.mp4"));

  std::vector<std::string> entries = log_entries(log());
  ASSERT_EQ(entries.size(), 4u);
  std::vector<std::string> recovered(entries.begin(), entries.begin() + 2);
  std::sort(recovered.begin(), recovered.end());
  EXPECT_EQ(recovered[0], "recovered  " + dir / "A-recovered-1.mp4");
  EXPECT_EQ(recovered[1], "recovered  " + dir / "D.mp4");
  std::vector<std::string> unrecoverable(entries.begin() + 2, entries.end());
  std::sort(unrecoverable.begin(), unrecoverable.end());
  EXPECT_EQ(unrecoverable[0], "unrecoverable  B.tmp.mp4  (not crash-safe; left untouched)");
  EXPECT_EQ(unrecoverable[1], "unrecoverable  C.tmp.mp4  (not crash-safe; left untouched)");

  ASSERT_EQ(ui.boxes.size(), 1u);
  const FakeUi::Shown& box = ui.boxes[0];
  EXPECT_EQ(box.caption, "Recovered Recordings");
  EXPECT_EQ(static_cast<uint32_t>(box.kind), 0x00010000u | MB_ICONINFORMATION);
  const std::string intro =
      "Frelvanta recovered 2 unfinished recording(s). They were renamed so they can be played:\n\n";
  const std::string tail =
      "\nFolder: " + dir.path() + "\n\nThe same list is in RECOVERED-RECORDINGS.txt in that folder.";
  EXPECT_TRUE(box.text == intro + "  " + recovered[0].substr(11) + "\n  " + recovered[1].substr(11) + "\n" + tail ||
              box.text == intro + "  " + recovered[1].substr(11) + "\n  " + recovered[0].substr(11) + "\n" + tail)
      << box.text;

  // The next start finds only what was reported already.
  const std::string before = log();
  recover_unfinished_recordings();
  EXPECT_EQ(log(), before);
  EXPECT_EQ(ui.boxes.size(), 1u);

  // A file changed after the log's last write is reported again.
  age(dir / "RECOVERED-RECORDINGS.txt", 300);
  recover_unfinished_recordings();
  entries = log_entries(log());
  ASSERT_EQ(entries.size(), 6u);
  std::vector<std::string> again(entries.begin() + 4, entries.end());
  std::sort(again.begin(), again.end());
  EXPECT_EQ(again, unrecoverable);
  EXPECT_EQ(ui.boxes.size(), 1u);  // nothing recovered: no message
}

TEST_F(RecoveryTest, NameCollisionsUpToNinetyNine) {
  put("A.tmp.mp4", fragmented());
  put("A.mp4", "x");
  for (int n = 1; n <= 98; ++n) put("A-recovered-" + std::to_string(n) + ".mp4", "x");
  recover_unfinished_recordings();
  EXPECT_EQ(read_text(dir / "A-recovered-99.mp4"), fragmented());

  put("A.tmp.mp4", fragmented());  // every name taken now
  recover_unfinished_recordings();
  EXPECT_TRUE(exists(dir / "A.tmp.mp4"));
  EXPECT_FALSE(exists(dir / "A-recovered-100.mp4"));
  std::vector<std::string> entries = log_entries(log());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1], "1 file(s) could not be renamed and were left untouched.");
  EXPECT_EQ(ui.boxes.size(), 1u);  // only for the first start
}

TEST_F(RecoveryTest, FilesInUseAreLeftAlone) {
  std::string fresh = dir / "fresh.tmp.mp4";
  write_text(fresh, fragmented());  // just written: another instance is recording
  std::string locked = put("locked.tmp.mp4", fragmented());
  std::string future = put("future.tmp.mp4", fragmented());
  age(future, -3600);  // a clock that went back does not make a file fresh

  FileLock lock;
  ASSERT_TRUE(lock.try_lock(locked));
  EXPECT_TRUE(recording_file_in_use(fresh));
  EXPECT_TRUE(recording_file_in_use(locked));
  EXPECT_FALSE(recording_file_in_use(future));

  recover_unfinished_recordings();
  EXPECT_TRUE(exists(fresh));
  EXPECT_TRUE(exists(locked));
  EXPECT_TRUE(exists(dir / "future.mp4"));
  std::vector<std::string> entries = log_entries(log());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], "recovered  " + dir / "future.mp4");
  EXPECT_EQ(entries[1], "2 unfinished file(s) are still in use and were left alone.");

  // Once the recording ends (lock released) and ten seconds have passed.
  lock.unlock();
  age(fresh, 11);
  EXPECT_FALSE(recording_file_in_use(fresh));
  EXPECT_FALSE(recording_file_in_use(locked));
  age(fresh, 9);
  EXPECT_TRUE(recording_file_in_use(fresh));
}

TEST_F(RecoveryTest, ListsHoldTwelveEntries) {
  for (int i = 0; i < 15; ++i) put("rec" + std::to_string(i) + ".tmp.mp4", fragmented());
  for (int i = 0; i < 14; ++i) put("bad" + std::to_string(i) + ".tmp.mp4", plain());
  recover_unfinished_recordings();

  std::vector<std::string> entries = log_entries(log());
  ASSERT_EQ(entries.size(), 12u + 1 + 12 + 1);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(entries[i].rfind("recovered  " + dir / "rec", 0), 0u) << entries[i];
  EXPECT_EQ(entries[12], "recovered  (3 more files)");
  for (int i = 13; i < 25; ++i) EXPECT_EQ(entries[i].rfind("unrecoverable  bad", 0), 0u) << entries[i];
  EXPECT_EQ(entries[25], "unrecoverable  (2 more files)");
  for (int i = 0; i < 15; ++i) EXPECT_TRUE(exists(dir / ("rec" + std::to_string(i) + ".mp4")));

  ASSERT_EQ(ui.boxes.size(), 1u);
  const std::string& text = ui.boxes[0].text;
  EXPECT_EQ(text.rfind("Frelvanta recovered 15 unfinished recording(s).", 0), 0u);
  size_t listed = 0;
  for (size_t p = text.find("\n  " + dir.path()); p != std::string::npos; p = text.find("\n  " + dir.path(), p + 1))
    ++listed;
  EXPECT_EQ(listed, 12u);
  EXPECT_NE(text.find("\n  ...and 3 more\n\nFolder: "), std::string::npos) << text;
}

TEST_F(RecoveryTest, CommandLineStartRenamesAndLogsWithoutAMessage) {
  g_app.cli_mode = true;
  put("A.tmp.mp4", fragmented());
  recover_unfinished_recordings();
  EXPECT_TRUE(exists(dir / "A.mp4"));
  EXPECT_EQ(log_entries(log()), std::vector<std::string>{"recovered  " + dir / "A.mp4"});
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(RecoveryTest, LogFileFormat) {
  append_recovery_log(dir.path(), "first entry \xC3\xA9");
  append_recovery_log(dir.path(), "second");
  std::string text = log();
  ASSERT_EQ(std::string(kHeader).size(), 185u);
  EXPECT_EQ(log_entries(text), (std::vector<std::string>{"first entry \xC3\xA9", "second"}));

  // An existing empty log gets the header too.
  std::string sub = dir / "sub";
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  write_text(sub + "/RECOVERED-RECORDINGS.txt", "");
  append_recovery_log(sub, "x");
  EXPECT_EQ(log_entries(read_text(sub + "/RECOVERED-RECORDINGS.txt")), std::vector<std::string>{"x"});

  std::string deep = dir.path();
  while (deep.size() < 190) deep += "/" + std::string(40, 'd');
  deep += "/" + std::string(234 - deep.size() - 1, 'e');
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  append_recovery_log(deep, "x");  // 234 + 24 + 2 reaches 260
  EXPECT_FALSE(exists(deep + "/RECOVERED-RECORDINGS.txt"));
  deep.pop_back();
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  append_recovery_log(deep, "x");
  EXPECT_TRUE(exists(deep + "/RECOVERED-RECORDINGS.txt"));
}

// A name made to look like log lines stays on its own line, and a log name
// that is a link pointing elsewhere is neither written through nor taken as
// the mark of what was reported.
TEST_F(RecoveryTest, HostileNamesCannotForgeOrRedirectTheLog) {
  const std::string forged =
      "evil\r\n2099-01-01 00:00:00  recovered  C:FAKE-RECOVERED.mp4\r\nx.tmp.mp4";
  put(forged, plain());
  std::vector<std::string> entries;
  recover_unfinished_recordings();
  entries = log_entries(log());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0],
            "unrecoverable  evil\\x0D\\x0A2099-01-01 00:00:00  recovered  C:FAKE-RECOVERED.mp4\\x0D\\x0Ax.tmp.mp4  "
            "(not crash-safe; left untouched)");

  // A link at the log's name, to a file outside the folder: nothing is
  // appended there, and the link stays as it was.
  TempDir outside;
  const std::string target = outside / "target.txt";
  write_text(target, "someone else's file");
  ASSERT_EQ(std::remove((dir / "RECOVERED-RECORDINGS.txt").c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), (dir / "RECOVERED-RECORDINGS.txt").c_str()), 0);
  put("B.tmp.mp4", plain());
  recover_unfinished_recordings();
  EXPECT_EQ(read_text(target), "someone else's file");
  struct stat st {};
  ASSERT_EQ(lstat((dir / "RECOVERED-RECORDINGS.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  // A link named like a temporary recording is no recording: not renamed, not read.
  ASSERT_EQ(symlink(g_samples->fragmented.c_str(), (dir / "L.tmp.mp4").c_str()), 0);
  recover_unfinished_recordings();
  EXPECT_TRUE(exists(dir / "L.tmp.mp4"));
  EXPECT_FALSE(exists(dir / "L.mp4"));
}
