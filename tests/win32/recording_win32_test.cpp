// Output naming, the run trace and recovery of unfinished recordings on the
// Win32 backends: the core's rules with the system's files, locks and paths.
#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "core/ui_service.h"
#include "platform/files.h"
#include "platform/text.h"
#include "recording/output_naming.h"
#include "recording/recovery.h"
#include "core/trace.h"
#include "win32_temp.h"
#include "support/fake_ui.h"

namespace {
// An MP4 start in the crash-safe layout ("ftyp", "moov", "moof"), padded to
// more than the 1,024 bytes recovery needs; without "moof" it is a plain one.
std::string mp4_bytes(bool fragmented) {
  auto box = [](const char* type, size_t size) {
    std::string b(size, '\0');
    b[0] = char(size >> 24), b[1] = char(size >> 16), b[2] = char(size >> 8), b[3] = char(size);
    b.replace(4, 4, type);
    return b;
  };
  return box("ftyp", 24) + box("moov", 64) + box(fragmented ? "moof" : "free", 32) + box("mdat", 2048);
}

// Moves the file's write time back so it counts as neither fresh nor newer
// than a log written now.
void age(const std::string& path, int seconds) {
  ScopedHandle h(CreateFileW(to_wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(h.valid());
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER u{{ft.dwLowDateTime, ft.dwHighDateTime}};
  u.QuadPart -= static_cast<uint64_t>(seconds) * 10'000'000;
  ft.dwLowDateTime = u.LowPart;
  ft.dwHighDateTime = u.HighPart;
  ASSERT_TRUE(SetFileTime(h.get(), nullptr, nullptr, &ft));
}

TEST(Win32Naming, TimestampNamesSkipTakenOnesAndExplicitPathsResolve) {
  app_reset();
  Win32TempDir dir;
  LocalTime t{2025, 1, 2, 3, 4, 5, 0};
  write_bytes(dir / "20250102_030405.mp4", "x");
  write_bytes(dir / "20250102_030405_001.tmp.mp4", "x");
  ASSERT_TRUE(make_output_path(dir.path(), t));
  EXPECT_EQ(g_app.recording.output_path, dir / "20250102_030405_002.mp4");
  EXPECT_EQ(g_app.recording.temp_path, dir / "20250102_030405_002.tmp.mp4");

  // Backslashes as a Windows user types them; a name without extension.
  std::string windows_form = dir.path();
  for (char& c : windows_form) c = c == '/' ? '\\' : c;
  g_app.cli_output_path = windows_form + "\\new folder\\take";
  ASSERT_TRUE(prepare_explicit_output());
  EXPECT_EQ(g_app.recording.output_path, dir / "new folder/take.mp4");
  EXPECT_EQ(g_app.recording.temp_path, dir / "new folder/take.tmp.mp4");
  EXPECT_TRUE(directory_exists(dir / "new folder"));

  // An existing file is never overwritten; a trailing separator names a folder.
  write_bytes(dir / "new folder/take.mp4", "x");
  EXPECT_FALSE(prepare_explicit_output());
  g_app.cli_output_path = windows_form + "\\sub\\";
  ASSERT_TRUE(prepare_explicit_output());
  EXPECT_EQ(path_directory(g_app.recording.output_path), dir / "sub");

  uint32_t error = 0;
  EXPECT_TRUE(test_folder_writable(dir.path(), &error));
  EXPECT_FALSE(test_folder_writable(dir / "missing", &error));
  EXPECT_NE(error, 0u);
  EXPECT_NE(system_error_text(error), "Unknown system error");
  app_reset();
}

TEST(Win32Trace, WholeLinesFromManyThreadsAndTheCommandLineMessage) {
  app_reset();
  Win32TempDir dir;
  set_run_trace_folder(dir.path());
  g_app.config.WriteDiagnostics = 1;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) trace_eventf("worker%d line %d %s", t, i, std::string(100, 'x').c_str());
    });
  }
  for (auto& th : threads) th.join();
  g_app.cli_mode = true;
  show_message("Recording is not available in this build yet.", "Frelvanta", MB_ICONERROR);

  std::string text = read_bytes(run_trace_path());
  EXPECT_EQ(path_directory(run_trace_path()), dir.path());
  static const std::regex line("-?\\d+ (worker\\d line \\d+ x{100}|cli\\.message caption=Frelvanta)");
  size_t count = 0, pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(std::regex_match(text.substr(pos, end - pos), line)) << text.substr(pos, end - pos);
    ++count;
    pos = end + 2;
  }
  EXPECT_EQ(count, 201u);
  set_run_trace_folder("");
  app_reset();
}

TEST(Win32Recovery, RenamesCrashSafeFilesAndLeavesThoseInUse) {
  app_reset();
  Win32TempDir dir;
  FakeUi ui;
  g_ui_service = &ui;
  g_app.config.OutputFolder = dir.path();
  write_bytes(dir / "old.tmp.mp4", mp4_bytes(true));
  write_bytes(dir / "plain.tmp.mp4", mp4_bytes(false));
  write_bytes(dir / "locked.tmp.mp4", mp4_bytes(true));
  write_bytes(dir / "fresh.tmp.mp4", mp4_bytes(true));
  write_bytes(dir / "Ünïcode.tmp.mp4", mp4_bytes(true));
  for (const char* n : {"old.tmp.mp4", "plain.tmp.mp4", "locked.tmp.mp4", "Ünïcode.tmp.mp4"}) age(dir / n, 120);
  FileLock lock;
  ASSERT_TRUE(lock.try_lock(dir / "locked.tmp.mp4"));
  EXPECT_TRUE(is_crash_safe_mp4(dir / "old.tmp.mp4"));
  EXPECT_FALSE(is_crash_safe_mp4(dir / "plain.tmp.mp4"));
  EXPECT_TRUE(recording_file_in_use(dir / "locked.tmp.mp4"));
  EXPECT_TRUE(recording_file_in_use(dir / "fresh.tmp.mp4"));
  EXPECT_FALSE(recording_file_in_use(dir / "old.tmp.mp4"));

  recover_unfinished_recordings();
  EXPECT_TRUE(file_exists(dir / "old.mp4"));
  EXPECT_TRUE(file_exists(dir / "Ünïcode.mp4"));
  EXPECT_TRUE(file_exists(dir / "plain.tmp.mp4"));
  EXPECT_TRUE(file_exists(dir / "locked.tmp.mp4"));
  EXPECT_TRUE(file_exists(dir / "fresh.tmp.mp4"));
  std::string log = read_bytes(dir / "RECOVERED-RECORDINGS.txt");
  EXPECT_NE(log.find("recovered  " + dir / "old.mp4\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("recovered  " + dir / "Ünïcode.mp4\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("unrecoverable  plain.tmp.mp4"), std::string::npos) << log;
  EXPECT_NE(log.find("2 unfinished file(s) are still in use and were left alone."), std::string::npos) << log;
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find("recovered 2 unfinished recording(s)"), std::string::npos) << ui.boxes[0].text;
  lock.unlock();
  g_ui_service = nullptr;
  app_reset();
}
}  // namespace
