// Start-up as a user sees it: the real executable, copied into a private
// folder (so its INI lands there), run with private user folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "support/wait.h"

extern char** environ;

namespace {
namespace fs = std::filesystem;

class Process {
 public:
  // With `stderr_path`, standard error goes to that file.
  Process(const std::string& exe, const std::vector<std::string>& args, const std::vector<std::string>& env,
          const std::string& stderr_path = "") {
    std::vector<std::string> argv_s = {exe};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_s = env;
    for (auto& e : env_s) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!stderr_path.empty()) {
      posix_spawn_file_actions_addopen(&actions, 2, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (pid_ > 0 && !done_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Exit code, or -1 on a time-out, or 128 + signal.
  int wait(int timeout_ms) {
    if (pid_ <= 0) return -2;
    for (int waited = 0;; waited += 10) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        done_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (waited >= timeout_ms) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  bool running() {
    int status;
    return pid_ > 0 && !done_ && waitpid(pid_, &status, WNOHANG) == 0;
  }
  void signal(int sig) { kill(pid_, sig); }

 private:
  pid_t pid_ = -1;
  bool done_ = false;
};

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"bin", "home", "config", "state", "run", "home/Videos"}) fs::create_directories(root.file(d));
    fs::permissions(root.file("run"), fs::perms::owner_all);
    exe = install("bin");
  }
  std::string install(const std::string& folder) {
    fs::create_directories(root.file(folder));
    std::string to = root.file(folder + "/frelvanta");
    fs::copy_file(FRELVANTA_EXE, to, fs::copy_options::overwrite_existing);
    return to;
  }
  // Private user folders; no display unless asked for.
  std::vector<std::string> env(bool offscreen_display = false) {
    std::vector<std::string> e = {"HOME=" + root.file("home"), "XDG_CONFIG_HOME=" + root.file("config"),
                                  "XDG_STATE_HOME=" + root.file("state"), "XDG_RUNTIME_DIR=" + root.file("run"),
                                  "PATH=/usr/bin:/bin"};
    if (offscreen_display) e.push_back("QT_QPA_PLATFORM=offscreen");
    return e;
  }
  TempDir root;
  std::string exe;
};

const char kLegacy[] =
    "[zelk]\r\nVideoBitrate=4321\r\nVideoCodec=H265\r\nFragmentedOutput=0\r\nAudioMixMode=1\r\n";

TEST_F(Startup, CommandLineRunMigratesOnceThenEndsWith2WithoutCapture) {
  write_text(root.file("bin/zelk.ini"), kLegacy);
  Process run(exe, {"--mode", "monitor"}, env());
  EXPECT_EQ(run.wait(20000), 2);
  std::string ini = read_text(root.file("bin/frelvanta.ini"));
  EXPECT_NE(ini.find("\r\nVideoBitrate=4321\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("\r\nVideoCodec=H265\r\nVideoProfile=Main10\r\n"), std::string::npos) << ini;
  // From before the setting existed: fragmented output switched on.
  EXPECT_NE(ini.find("\r\nFragmentedOutput=1\r\nFragmentedOutputSet=1\r\n"), std::string::npos) << ini;
  EXPECT_EQ(ini.find("AudioMixMode"), std::string::npos);
  EXPECT_EQ(read_text(root.file("bin/zelk.ini")), kLegacy);  // the older file stays as it was

  // Next start: the new file exists, the older one is not read again.
  write_text(root.file("bin/zelk.ini"), "[zelk]\r\nVideoBitrate=1\r\n");
  Process again(exe, {"--mode", "window"}, env());
  EXPECT_EQ(again.wait(20000), 2);
  EXPECT_EQ(read_text(root.file("bin/frelvanta.ini")), ini);
}

TEST_F(Startup, OverridesAreNeverSaved) {
  const std::string saved =
      "[frelvanta]\r\nCaptureAudio=1\r\nCaptureMicrophone=0\r\nStartDelaySec=3\r\nOpenFolder=1\r\n"
      "EnableLimitLength=0\r\nLimitLength=60\r\n";
  write_text(root.file("bin/frelvanta.ini"), saved);
  Process run(exe, {"--mode", "monitor", "--audio", "off", "--mic", "on", "--duration", "30"}, env());
  EXPECT_EQ(run.wait(20000), 2);
  EXPECT_EQ(read_text(root.file("bin/frelvanta.ini")), saved);
}

TEST_F(Startup, CommandLineErrorEndsWith1BeforeTouchingSettings) {
  write_text(root.file("bin/zelk.ini"), kLegacy);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--minimize"}, {"--mode", "monitor", "--duration", "86401"}, {"/mode", "monitor"}}) {
    Process run(exe, args, env());
    EXPECT_EQ(run.wait(20000), 1) << args[0];
  }
  EXPECT_FALSE(fs::exists(root.file("bin/frelvanta.ini")));
}

TEST_F(Startup, SecondInteractiveStartHandsOverAndExits0WithoutTheIni) {
  write_text(root.file("bin/zelk.ini"), kLegacy);
  Process first(exe, {}, env(true));
  // The first instance has gone through start-up once its INI exists (migrated).
  for (int i = 0; i < 200 && !fs::exists(root.file("bin/frelvanta.ini")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  ASSERT_TRUE(fs::exists(root.file("bin/frelvanta.ini")));
  ASSERT_TRUE(first.running());

  // A second copy elsewhere: it would migrate its own older file if it read settings.
  std::string other = install("other");
  write_text(root.file("other/zelk.ini"), kLegacy);
  Process second(other, {}, env(true));
  EXPECT_EQ(second.wait(10000), 0);
  EXPECT_FALSE(fs::exists(root.file("other/frelvanta.ini")));
  EXPECT_TRUE(first.running());

  // A command-line run is no second instance.
  Process cli(other, {"--mode", "monitor"}, env(true));
  EXPECT_EQ(cli.wait(20000), 2);
  EXPECT_TRUE(fs::exists(root.file("other/frelvanta.ini")));

  // A termination request ends the instance through the normal shutdown.
  first.signal(SIGTERM);
  EXPECT_EQ(first.wait(10000), 0);

  // The owner is gone; a new interactive start becomes the instance. Its
  // listening socket shows it has claimed the instance, which comes after it
  // took over termination requests; the old owner's socket file is removed
  // first so that only the new one counts.
  const std::string socket_path = root.file("run/frelvanta.sock");
  fs::remove(socket_path);
  Process third(other, {}, env(true));
  EXPECT_TRUE(wait_until([&] { return fs::exists(socket_path) || !third.running(); }, std::chrono::seconds(20)));
  EXPECT_EQ(third.wait(500), -1);
  third.signal(SIGTERM);
  EXPECT_EQ(third.wait(10000), 0);
}

TEST_F(Startup, NoDisplayStillEndsWithItsExitCode) {
  // Interactive without any display: start-up runs (the migration happens),
  // there is no window to create, and the process ends with 0.
  write_text(root.file("bin/zelk.ini"), kLegacy);
  std::vector<std::string> e = env();
  Process interactive(exe, {}, e);
  EXPECT_EQ(interactive.wait(20000), 0);
  EXPECT_TRUE(fs::exists(root.file("bin/frelvanta.ini")));
  // A display that cannot be opened is no display.
  e.push_back("DISPLAY=:87");
  Process cli(exe, {"--mode", "region"}, e);
  EXPECT_EQ(cli.wait(20000), 2);
  e.push_back("QT_QPA_PLATFORM=xcb");
  Process forced(exe, {"--mode", "window"}, e);
  EXPECT_EQ(forced.wait(20000), 2);
}

// A pipe at the INI's name blocked start-up for good in open() (and one
// SIGTERM did not end it). Start-up now goes on with the defaults and says
// why; the limit is generous, what counts is that the run ends.
TEST_F(Startup, PipeAsSettingsFileDoesNotHoldUpTheStart) {
  ASSERT_EQ(mkfifo(root.file("bin/frelvanta.ini").c_str(), 0644), 0);
  const std::string err = root.file("stderr.txt");
  Process run(exe, {"--mode", "monitor"}, env(), err);
  EXPECT_EQ(run.wait(20000), 2);
  EXPECT_NE(read_text(err).find("Frelvanta: The settings file is not a regular file"), std::string::npos)
      << read_text(err);
  struct stat st {};
  ASSERT_EQ(lstat(root.file("bin/frelvanta.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
}  // namespace
