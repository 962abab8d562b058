// frelvanta.exe as a user starts it: a copy in a private folder (so the INI
// and run trace beside it are the test's own), run with a command line, its
// exit code and console output read back.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "audio/audio_endpoint.h"
#include "platform/files.h"
#include "settings/ini_store.h"
#include "video/encode/media_writer.h"
#include "win32_temp.h"

namespace {
struct ExeRun {
  DWORD exit_code = 0xFFFFFFFF;
  std::string output;  // standard error
};

class ExeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exe_ = dir_ / "frelvanta.exe";
    std::string built = path_join(path_directory(path_directory(path_directory(executable_path()))),
                                  FRELVANTA_EXE_NAME);
    ASSERT_TRUE(CopyFileW(to_wide(built).c_str(), to_wide(exe_).c_str(), TRUE)) << built;
  }

  // Starts the copy with `args` (the rest of the command line, quoted as
  // typed) and waits at most `wait_ms`; `process` receives the handle when
  // the caller keeps the process.
  ExeRun run(const std::string& args, DWORD wait_ms = 30000, HANDLE* process = nullptr) {
    ExeRun r;
    std::string err_path = dir_ / ("stderr-" + std::to_string(runs_++) + ".txt");
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    ScopedHandle err(CreateFileW(to_wide(err_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = err.get();
    si.hStdError = err.get();
    std::wstring line = L"\"" + to_wide(exe_) + L"\"" + (args.empty() ? L"" : L" " + to_wide(args));
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, to_wide(dir_.path()).c_str(), &si,
                        &pi)) {
      ADD_FAILURE() << "cannot start " << exe_;
      return r;
    }
    CloseHandle(pi.hThread);
    if (process) {
      *process = pi.hProcess;
      return r;
    }
    if (WaitForSingleObject(pi.hProcess, wait_ms) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &r.exit_code);
    else ADD_FAILURE() << "still running: " << args;
    CloseHandle(pi.hProcess);
    err.reset();
    r.output = read_bytes(err_path);
    return r;
  }

  Win32TempDir dir_;
  std::string exe_;
  int runs_ = 0;
};

TEST_F(ExeTest, CommandLineExitCodes) {
  struct Case {
    const char* args;
    DWORD code;
  };
  const Case cases[] = {
      {"--minimize", 1},
      {"--mode", 1},
      {"--mode MONITOR --duration 86401", 1},
      {"--mode monitor --duration 10s", 1},
      {"--mode monitor --duration -1", 1},
      {"--mode monitor --duration \"\"", 1},
      {"/mode monitor", 1},
      {"-mode monitor", 1},
      {"--mode monitor --audio yes", 1},
      {"--mode screen", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    ExeRun r = run(c.args);
    EXPECT_EQ(r.exit_code, c.code);
    EXPECT_EQ(r.output, "");
  }
  // Nothing was saved: the INI appears only when a setting is written.
  EXPECT_FALSE(file_exists(dir_ / "frelvanta.ini"));
}

TEST_F(ExeTest, SettingsBesideTheExecutableMigrationTraceAndRecovery) {
  std::string videos = dir_ / "videos";
  ASSERT_TRUE(create_directories(videos));
  // The older engine's file, with diagnostics on and an output folder that
  // holds an unfinished crash-safe recording.
  std::string legacy = "[zelk]\r\nVideoBitrate=4000\r\nWriteDiagnostics=1\r\nOutputFolder=" + videos + "\r\n";
  write_bytes(dir_ / "zelk.ini", legacy);
  auto box = [](const char* type, size_t size) {
    std::string b(size, '\0');
    b[2] = char(size >> 8), b[3] = char(size);
    b.replace(4, 4, type);
    return b;
  };
  write_bytes(videos + "/20240101_000000.tmp.mp4", box("ftyp", 24) + box("moof", 32) + box("mdat", 2000));
  ScopedHandle h(CreateFileW(to_wide(videos + "/20240101_000000.tmp.mp4").c_str(), FILE_WRITE_ATTRIBUTES, 0,
                             nullptr, OPEN_EXISTING, 0, nullptr));
  FILETIME old{0x10000000, 0x01d00000};  // some time in 2015
  SetFileTime(h.get(), nullptr, nullptr, &old);
  h.reset();

  // Three seconds: on a busy machine the first picture under Wine may come
  // later than one second after the start, and the run then records nothing.
  ExeRun r = run("--mode monitor --duration 3 --audio off --mic off", 60000);
  EXPECT_EQ(r.exit_code, 0u) << r.output;
  EXPECT_EQ(r.output, "");

  std::string ini = dir_ / "frelvanta.ini";
  EXPECT_EQ(ini_get_string(ini, "frelvanta", "VideoBitrate", ""), "4000");
  EXPECT_EQ(ini_get_string(ini, "frelvanta", "FragmentedOutputSet", ""), "1");
  EXPECT_EQ(read_bytes(dir_ / "zelk.ini"), legacy);  // left as it was

  std::string trace = read_bytes(dir_ / "frelvanta-runtrace.txt");
  EXPECT_NE(trace.find(" config.values fps=60 size=1920x1080"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" recording.started\r\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" stop.rename_done\r\n"), std::string::npos) << trace;

  EXPECT_TRUE(file_exists(videos + "/20240101_000000.mp4"));
  EXPECT_NE(read_bytes(videos + "/RECOVERED-RECORDINGS.txt").find("recovered  " + videos + "/20240101_000000.mp4"),
            std::string::npos);
}

// The sound server's monitor input as the system's sound names it (empty
// without the private sound server of test-env.sh).
std::string sound_server_monitor() {
  std::string names[32], ids[32];
  const uint32_t n = system_audio_endpoints()->enumerate_microphones(names, ids, 32);
  for (uint32_t i = 0; i < n; ++i)
    if (names[i].find("Monitor") != std::string::npos) return names[i];
  return "";
}

// Where recordings for the Linux tools go: FV_RECORDING_OUT when the wrapper
// (run_recording_check.sh) sets it, else the test's own folder.
std::string recording_out_folder(const Win32TempDir& own) {
  const char* out_env = std::getenv("FV_RECORDING_OUT");
  return out_env != nullptr ? std::string(out_env) : own.path();
}

// A full-screen window that paints two fixed halves and a white square
// moving along its top strip (new content in every picture), on a thread of
// its own with its own message loop.
class PaintedScreen {
 public:
  static constexpr COLORREF kLeft = RGB(200, 30, 90);
  static constexpr COLORREF kRight = RGB(30, 160, 220);

  PaintedScreen() {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = &PaintedScreen::proc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"fv_painted_screen";
      RegisterClassW(&wc);
      window_ = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"painted", WS_POPUP | WS_VISIBLE, 0, 0,
                                GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                wc.hInstance, nullptr);
      SetTimer(window_, 1, 30, nullptr);
      thread_id_ = GetCurrentThreadId();
      SetEvent(ready);
      MSG m;
      while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
      DestroyWindow(window_);
    });
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
  }
  ~PaintedScreen() {
    PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    thread_.join();
  }

 private:
  static LRESULT CALLBACK proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    static std::atomic<int> tick{0};
    if (msg == WM_TIMER) {
      ++tick;
      InvalidateRect(w, nullptr, FALSE);
      return 0;
    }
    if (msg != WM_PAINT) return DefWindowProcW(w, msg, wp, lp);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    RECT r;
    GetClientRect(w, &r);
    auto fill = [dc](RECT area, COLORREF c) {
      HBRUSH b = CreateSolidBrush(c);
      FillRect(dc, &area, b);
      DeleteObject(b);
    };
    const LONG strip = r.bottom / 6, half = r.right / 2;
    fill({0, 0, r.right, strip}, RGB(0, 0, 0));
    const LONG x = (tick * 24) % (r.right - strip);
    fill({x, 0, x + strip, strip}, RGB(255, 255, 255));
    fill({0, strip, half, r.bottom}, kLeft);
    fill({half, strip, r.right, r.bottom}, kRight);
    EndPaint(w, &ps);
    return 0;
  }

  std::thread thread_;
  DWORD thread_id_ = 0;
  HWND window_ = nullptr;
};

// A monitor recording from the command line while a window paints the
// screen and the sound server's output plays a tone, taken from its monitor
// input through SystemAudioDeviceId. The file lands in FV_RECORDING_OUT
// when the wrapper (run_recording_check.sh) sets it; the wrapper then decodes
// it with the Linux tools (picture, colours, frame count, tone, lengths).
TEST_F(ExeTest, MonitorRecordingFromTheCommandLine) {
  if (!media_platform_can_write()) GTEST_SKIP() << "this build has no writer for recordings";
  const std::string monitor_name = sound_server_monitor();
  ASSERT_FALSE(monitor_name.empty()) << "no monitor input; run under scripts/test-env.sh";

  const std::string folder = recording_out_folder(dir_);
  const std::string out = path_join(folder, "monitor.mp4");
  write_bytes(dir_ / "frelvanta.ini",
              "[frelvanta]\r\nVideoMaxWidth=640\r\nVideoMaxHeight=360\r\nShowRecordingBorder=0\r\n"
              "OpenFolder=0\r\nWriteDiagnostics=1\r\nSystemAudioDeviceId=" +
                  monitor_name + "\r\n");

  PaintedScreen screen;
  Sleep(500);
  ExeRun r = run("--mode monitor --duration 4 --audio on --mic off --output \"" + out + "\"", 120000);
  // A clean save says nothing on the console and ends with 0.
  EXPECT_EQ(r.exit_code, 0u) << r.output;
  EXPECT_EQ(r.output, "");
  EXPECT_TRUE(file_exists(out));
  EXPECT_FALSE(file_exists(path_join(folder, "monitor.tmp.mp4")));
  std::string bytes;
  read_whole_file(out, 1 << 30, &bytes);
  EXPECT_GT(bytes.size(), 10000u);
  const std::string trace = read_bytes(out + ".stoptrace.txt");
  const size_t begin = trace.find("stop.begin"), renamed = trace.find("stop.rename_done");
  EXPECT_NE(begin, std::string::npos) << trace;
  EXPECT_NE(renamed, std::string::npos) << trace;
  EXPECT_LT(begin, renamed) << trace;
}

// How many fragment headers the file holds so far (read while the recorder
// still writes it).
int fragments_in(const std::string& path) {
  std::string bytes;
  read_whole_file(path, 1 << 28, &bytes);
  int n = 0;
  for (size_t at = bytes.find("moof"); at != std::string::npos; at = bytes.find("moof", at + 4)) ++n;
  return n;
}

// A crash-safe recording whose process is killed mid-way (as by the task
// manager or a crash) is recovered at the next start: renamed to its final
// name and listed in the folder's log. The recovered file goes to the Linux
// tools (check_recording.py), which decode it up to its last fragment.
TEST_F(ExeTest, KilledRecordingIsRecoveredAtTheNextStart) {
  if (!media_platform_can_write()) GTEST_SKIP() << "this build has no writer for recordings";
  const std::string monitor_name = sound_server_monitor();
  ASSERT_FALSE(monitor_name.empty()) << "no monitor input; run under scripts/test-env.sh";
  const std::string videos = dir_ / "videos";
  ASSERT_TRUE(create_directories(videos));
  write_bytes(dir_ / "frelvanta.ini",
              "[frelvanta]\r\nVideoMaxWidth=640\r\nVideoMaxHeight=360\r\nShowRecordingBorder=0\r\n"
              "OpenFolder=0\r\nWriteDiagnostics=1\r\nOutputFolder=" + videos + "\r\nSystemAudioDeviceId=" +
                  monitor_name + "\r\n");

  PaintedScreen screen;
  HANDLE process = nullptr;
  run("--mode monitor --duration 600 --audio on --mic off", 0, &process);
  ASSERT_NE(process, nullptr);
  // Killed once the file holds a few fragments, whatever the machine's pace.
  std::string temp;
  for (int i = 0; i < 1200 && WaitForSingleObject(process, 100) == WAIT_TIMEOUT; ++i) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(to_wide(videos)), ec)) {
      const std::string name = to_utf8(entry.path().filename().wstring());
      if (name.size() > 8 && name.compare(name.size() - 8, 8, ".tmp.mp4") == 0) temp = path_join(videos, name);
    }
    if (!temp.empty() && fragments_in(temp) >= 3) break;
  }
  ASSERT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the recording ended by itself";
  TerminateProcess(process, 1);
  ASSERT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0);
  CloseHandle(process);
  ASSERT_FALSE(temp.empty()) << "no unfinished recording appeared";
  ASSERT_GE(fragments_in(temp), 3) << temp;
  // A file written in the last seconds may still be another run's: the next
  // start comes a while later, as after a restart.
  {
    ScopedHandle h(CreateFileW(to_wide(temp).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= 60ull * 10000000ull;
    FILETIME before{t.LowPart, t.HighPart};
    ASSERT_TRUE(SetFileTime(h.get(), nullptr, nullptr, &before));
  }

  ExeRun next = run("--mode monitor --duration 3 --audio off --mic off", 60000);
  EXPECT_EQ(next.exit_code, 0u) << next.output;
  EXPECT_EQ(next.output, "");
  const std::string recovered = temp.substr(0, temp.size() - 8) + ".mp4";
  EXPECT_FALSE(file_exists(temp));
  ASSERT_TRUE(file_exists(recovered));
  EXPECT_NE(read_bytes(videos + "/RECOVERED-RECORDINGS.txt").find("recovered  " + recovered), std::string::npos)
      << read_bytes(videos + "/RECOVERED-RECORDINGS.txt");
  ASSERT_TRUE(CopyFileW(to_wide(recovered).c_str(), to_wide(path_join(recording_out_folder(dir_), "recovered.mp4")).c_str(),
                        FALSE));
}

// Needs a display: the interactive instance shows its notice in a window.
TEST_F(ExeTest, SecondInteractiveStartHandsOverAndExitsZero) {
  HANDLE first = nullptr;
  run("", 0, &first);
  ASSERT_NE(first, nullptr);
  HWND window = nullptr;
  for (int i = 0; i < 300 && !window; ++i) {
    window = FindWindowW(L"frelvanta_window_class", nullptr);
    if (!window) Sleep(100);
  }
  ASSERT_NE(window, nullptr) << "the interactive instance never created its window";

  ExeRun second = run("");
  EXPECT_EQ(second.exit_code, 0u);
  EXPECT_FALSE(file_exists(dir_ / "frelvanta.ini"));
  // A command-line run has its own window class and does not hand over: it
  // records by itself.
  ExeRun beside = run("--mode monitor --duration 3 --audio off --mic off", 60000);
  EXPECT_EQ(beside.exit_code, 0u) << beside.output;
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the first instance ended";

  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(first, 30000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(first, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(first);
}
}  // namespace
