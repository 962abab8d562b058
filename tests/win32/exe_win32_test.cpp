// frelvanta.exe as a user starts it: a copy in a private folder (so the INI
// and run trace beside it are the test's own), run with a command line, its
// exit code and console output read back.
#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "settings/ini_store.h"
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

constexpr char kNotAvailable[] = "Frelvanta: Recording is not available in this build yet.\r\n";

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
      // Parsed; the capture cannot start in this build.
      {"--mode MONITOR --duration 86400", 2},
      {"--mode window --mode region --minimize", 2},
      {"--mode monitor --output --mic", 2},
      {"--mode region --output \"C:\\some dir\\take one.mp4\" --system-audio off --mic ON", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    ExeRun r = run(c.args);
    EXPECT_EQ(r.exit_code, c.code);
    EXPECT_EQ(r.output, c.code == 2 ? kNotAvailable : "");
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

  ExeRun r = run("--mode monitor");
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.output, kNotAvailable);

  std::string ini = dir_ / "frelvanta.ini";
  EXPECT_EQ(ini_get_string(ini, "frelvanta", "VideoBitrate", ""), "4000");
  EXPECT_EQ(ini_get_string(ini, "frelvanta", "FragmentedOutputSet", ""), "1");
  EXPECT_EQ(read_bytes(dir_ / "zelk.ini"), legacy);  // left as it was

  std::string trace = read_bytes(dir_ / "frelvanta-runtrace.txt");
  EXPECT_NE(trace.find(" config.values fps=60 size=1920x1080"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" cli.message caption=Frelvanta\r\n"), std::string::npos) << trace;

  EXPECT_TRUE(file_exists(videos + "/20240101_000000.mp4"));
  EXPECT_NE(read_bytes(videos + "/RECOVERED-RECORDINGS.txt").find("recovered  " + videos + "/20240101_000000.mp4"),
            std::string::npos);
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
  // A command-line run has its own window class and does not hand over.
  EXPECT_EQ(run("--mode window").exit_code, 2u);
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the first instance ended";

  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(first, 30000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(first, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(first);
}
}  // namespace
