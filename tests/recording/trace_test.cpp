#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <latch>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "core/ui_service.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "core/trace.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

namespace {
int64_t fixed_clock() { return 1234567; }

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    g_app.config.WriteDiagnostics = 1;
    set_run_trace_folder(dir.path());
    clock_set_source(fixed_clock);
  }
  void TearDown() override {
    clock_set_source(nullptr);
    set_run_trace_folder("");
    g_ui_service = nullptr;
    app_reset();
  }
  std::string run_trace() const { return dir / "frelvanta-runtrace.txt"; }

  TempDir dir;
};

// Runs `fn` with standard error sent to a file and returns what it wrote.
template <typename Fn>
std::string capture_stderr(const TempDir& dir, Fn fn) {
  std::string path = dir / "stderr.txt";
  fflush(stderr);
  int saved = dup(STDERR_FILENO);
  FILE* f = fopen(path.c_str(), "wb");
  dup2(fileno(f), STDERR_FILENO);
  fn();
  fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  fclose(f);
  return read_text(path);
}
}  // namespace

TEST_F(TraceTest, LineFormatGoesToBothSinks) {
  set_stop_trace_for_output(dir / "clip.mp4");
  trace_event("stop.begin");
  trace_eventf("encoder.stalled stage=%s queue=%d", "write", 3);
  const std::string expected = "1234567 stop.begin\r\n1234567 encoder.stalled stage=write queue=3\r\n";
  EXPECT_EQ(read_text(run_trace()), expected);
  EXPECT_EQ(read_text(dir / "clip.mp4.stoptrace.txt"), expected);

  // The stop trace stays until the next recording start redirects it.
  set_stop_trace_for_output(dir / "next.mp4");
  trace_event("recording.start");
  EXPECT_EQ(read_text(dir / "clip.mp4.stoptrace.txt"), expected);
  EXPECT_EQ(read_text(dir / "next.mp4.stoptrace.txt"), "1234567 recording.start\r\n");

  // A text with an embedded NUL ends there, as a terminated string would.
  set_stop_trace_for_output("");
  trace_event(std::string_view("a.b\0hidden", 10));
  EXPECT_EQ(read_text(run_trace()), expected + "1234567 recording.start\r\n1234567 a.b\r\n");
}

TEST_F(TraceTest, DiagnosticsOffTouchesNoFile) {
  g_app.config.WriteDiagnostics = 0;
  set_stop_trace_for_output(dir / "clip.mp4");
  trace_event("stop.begin");
  trace_eventf("x=%d", 1);
  EXPECT_FALSE(exists(run_trace()));
  EXPECT_FALSE(exists(dir / "clip.mp4.stoptrace.txt"));

  // The console line of a command-line message does not depend on it.
  g_app.cli_mode = true;
  std::string err = capture_stderr(dir, [] { EXPECT_EQ(show_message("done", "Frelvanta", MB_ICONERROR), IDOK); });
  EXPECT_EQ(err, "Frelvanta: done\r\n");
  EXPECT_FALSE(exists(run_trace()));
}

TEST_F(TraceTest, RotatesOnlyAboveFourMebibytes) {
  const std::string trace = run_trace();
  write_text(trace + ".old", "previous generation");
  write_text(trace, std::string(4194304, 'x'));
  trace_event("a.b");
  EXPECT_EQ(read_text(trace).size(), 4194304u + 13u);  // appended, not rotated
  EXPECT_EQ(read_text(trace + ".old"), "previous generation");

  // Now 4 MiB + 13 bytes: the next event rotates, replacing the old ".old".
  trace_event("c.d");
  EXPECT_EQ(read_text(trace), "1234567 c.d\r\n");
  EXPECT_EQ(read_text(trace + ".old").size(), 4194304u + 13u);

  write_text(trace, std::string(4194305, 'y'));
  trace_event("e.f");
  EXPECT_EQ(read_text(trace), "1234567 e.f\r\n");
  EXPECT_EQ(read_text(trace + ".old"), std::string(4194305, 'y'));
}

TEST_F(TraceTest, NoRotationWhenTheOldNameDoesNotFit) {
  // Builds a file path of exactly 256 units: path + ".old" would need 260.
  std::string folder = dir.path();
  while (utf16_length(folder) < 200) folder += "/" + std::string(40, 'd');
  ASSERT_TRUE(std::filesystem::create_directories(folder));
  std::string path = folder + "/" + std::string(256 - utf16_length(folder) - 1, 'f');
  ASSERT_EQ(utf16_length(path), 256u);
  write_text(path, std::string(4194305, 'z'));
  append_trace_line(path, "a.b");
  EXPECT_EQ(read_text(path).size(), 4194305u + 13u);
  EXPECT_FALSE(exists(path + ".old"));

  // One unit shorter and it rotates.
  std::string shorter = path.substr(0, path.size() - 1);
  write_text(shorter, std::string(4194305, 'z'));
  append_trace_line(shorter, "a.b");
  EXPECT_EQ(read_text(shorter), "1234567 a.b\r\n");
  EXPECT_TRUE(exists(shorter + ".old"));
}

TEST_F(TraceTest, LongLinesAreCutOrDropped) {
  struct Case {
    std::string text;
    std::string expected;  // the line written, or "" when dropped
  };
  const std::string counter = "1234567 ";  // 8 units
  std::string cjk170, cjk160;
  for (int i = 0; i < 170; ++i) cjk170 += "\xE6\xBC\xA2";  // 3 UTF-8 bytes, 1 unit each
  for (int i = 0; i < 160; ++i) cjk160 += "\xE6\xBC\xA2";
  const Case cases[] = {
      // 8 + 245 + CR LF = 255 units: fits exactly.
      {std::string(245, 'a'), counter + std::string(245, 'a') + "\r\n"},
      // One unit more: the text is cut, the line keeps its CR LF.
      {std::string(246, 'a'), counter + std::string(245, 'a') + "\r\n"},
      {std::string(250, 'a'), counter + std::string(245, 'a') + "\r\n"},
      // 8 + 480 + 2 + NUL = 491 bytes: written.
      {cjk160, counter + cjk160 + "\r\n"},
      // 8 + 510 + 2 + NUL = 521 bytes: dropped, though only 180 units.
      {cjk170, ""},
  };
  for (const Case& c : cases) {
    std::string path = dir / "cut.txt";
    std::remove(path.c_str());
    append_trace_line(path, c.text);
    std::string written = read_text(path);
    EXPECT_EQ(written, c.expected) << c.text.size();
    EXPECT_LE(utf16_length(written), 255u);
  }
  // A cut never splits a surrogate pair.
  std::string emoji;
  for (int i = 0; i < 130; ++i) emoji += "\xF0\x9F\x8E\xA5";  // 2 units each
  std::string path = dir / "pairs.txt";
  append_trace_line(path, emoji);
  std::string written = read_text(path);
  EXPECT_EQ(written, counter + emoji.substr(0, 122 * 4) + "\r\n");
}

TEST_F(TraceTest, ConcurrentWritersLeaveWholeLinesAcrossRotation) {
  clock_set_source(nullptr);
  const std::string trace = run_trace();
  // Just under the limit, so the writers below cross it together.
  std::string filler;
  while (filler.size() < 4194304 - 100) filler += "0 filler.line\r\n";
  filler.resize(filler.size() - filler.size() % 15);
  write_text(trace, filler);
  const size_t filler_lines = filler.size() / 15;

  constexpr int kThreads = 8, kLines = 100;
  std::latch go(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &go] {
      go.arrive_and_wait();
      for (int i = 0; i < kLines; ++i) trace_eventf("test.line thread=%d index=%d pad=%s", t, i, "................");
    });
  }
  for (auto& th : threads) th.join();

  std::string all = read_text(trace + ".old") + read_text(trace);
  std::regex line_re("^(\\d+) (?:filler\\.line|test\\.line thread=(\\d) index=(\\d+) pad=\\.{16})$");
  std::set<std::pair<int, int>> seen;
  size_t fillers = 0, start = 0;
  while (start < all.size()) {
    size_t end = all.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "unterminated tail";
    std::string line = all.substr(start, end - start);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, line_re)) << line;
    if (m[2].matched) seen.insert({std::stoi(m[2]), std::stoi(m[3])});
    else ++fillers;
    start = end + 2;
  }
  EXPECT_EQ(fillers, filler_lines);  // the rotated generation was not replaced
  EXPECT_EQ(seen.size(), size_t(kThreads * kLines));
  EXPECT_LT(read_text(trace).size(), 4194304u);
}

TEST_F(TraceTest, ShowMessageInCommandLineMode) {
  g_app.cli_mode = true;
  FakeUi ui;
  g_ui_service = &ui;
  std::string err = capture_stderr(dir, [] {
    EXPECT_EQ(show_message("Recording saved.\nsecond line", "Frelvanta", MB_ICONWARNING), IDOK);
  });
  EXPECT_EQ(err, "Frelvanta: Recording saved.\nsecond line\r\n");
  EXPECT_EQ(read_text(run_trace()), "1234567 cli.message caption=Frelvanta\r\n");
  EXPECT_TRUE(ui.events.empty());

  // The console text is cut to 2,047 units.
  err = capture_stderr(dir, [] { show_message(std::string(3000, 'm'), "Error", MB_ICONERROR); });
  EXPECT_EQ(err, "Error: " + std::string(2040, 'm') + "\r\n");

  // No tray icon exists in a command-line run.
  EXPECT_EQ(show_tray_notification("x", "", NOTIFY_INFO), 0);
  EXPECT_TRUE(ui.events.empty());
}

TEST_F(TraceTest, InteractiveMessagesGoThroughTheUiService) {
  FakeUi ui;
  ui.box_answer = 7;  // the box's answer comes back as it is
  g_ui_service = &ui;
  EXPECT_EQ(show_message("text", "Caption", MB_ICONINFORMATION), 7);
  show_tray_notification("Output folder does not exist and could not be created.", "", NOTIFY_INFO);
  show_tray_notification(std::string(300, 't'), std::string(100, 'c'), NOTIFY_ERROR);
  ASSERT_EQ(ui.events.size(), 3u);
  EXPECT_EQ(ui.events[0], "box|Caption|text|64");
  EXPECT_EQ(ui.events[1], "tray|Frelvanta|Output folder does not exist and could not be created.|1");
  EXPECT_EQ(ui.events[2], "tray|" + std::string(63, 'c') + "|" + std::string(255, 't') + "|3");
  EXPECT_FALSE(exists(run_trace()));  // nothing traced in interactive mode

  g_ui_service = nullptr;  // no display: nothing shown, nothing fails
  EXPECT_EQ(show_message("text", "Caption", MB_ICONINFORMATION), IDOK);
}

TEST_F(TraceTest, StopTracePathIsCutToThePathLimit) {
  std::string output = "/" + std::string(250, 'o') + ".mp4";
  set_stop_trace_for_output(output);
  std::string stop = g_app.recording.stop_trace_path.get();
  EXPECT_EQ(utf16_length(stop), 259u);
  EXPECT_EQ(stop, (output + ".stoptrace.txt").substr(0, 259));
  set_stop_trace_for_output("");
  EXPECT_TRUE(g_app.recording.stop_trace_path.empty());
}

// Names in event texts cannot break a line, and a link planted at a trace
// file's name (the stop trace lies in the output folder) is not written
// through.
TEST_F(TraceTest, HostileNamesAndPlantedLinks) {
  trace_event("recovery.renamed name=evil\r\n1 forged.event\r\nx.tmp.mp4");
  EXPECT_EQ(read_text(run_trace()), "1234567 recovery.renamed name=evil\\x0D\\x0A1 forged.event\\x0D\\x0Ax.tmp.mp4\r\n");

  TempDir outside;
  const std::string victim = outside / "victim.txt";
  write_text(victim, "keep");
  ASSERT_EQ(symlink(victim.c_str(), (dir / "clip.mp4.stoptrace.txt").c_str()), 0);
  const std::string dangling = outside / "created.txt";
  ASSERT_EQ(symlink(dangling.c_str(), (dir / "clip2.mp4.stoptrace.txt").c_str()), 0);
  for (const char* clip : {"clip.mp4", "clip2.mp4"}) {
    set_stop_trace_for_output(dir / clip);
    trace_event("stop.begin");
  }
  EXPECT_EQ(read_text(victim), "keep");
  EXPECT_FALSE(exists(dangling));
}
