#include "e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace {
double now_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The extra entries replace inherited ones of the same name (the first of
// two entries is the one programs see).
std::vector<std::string> merged_env(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.rfind(name, 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  for (const std::string& x : extra) env.push_back(x);
  return env;
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
            const std::string& output_path) {
  std::vector<std::string> env = merged_env(extra_env);
  std::vector<char*> a, e;
  for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (const std::string& s : env) e.push_back(const_cast<char*>(s.c_str()));
  e.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, a[0], &fa, nullptr, a.data(), e.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

int wait_pid(pid_t pid, double timeout_s) {
  const double end = now_s() + timeout_s;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (r < 0) return -1;
    if (now_s() > end) return -2;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
}  // namespace

namespace {
std::vector<std::unique_ptr<TempDir>>& temp_dirs() {
  static std::vector<std::unique_ptr<TempDir>> dirs;
  return dirs;
}

// The folders of a run that passed go at exit; a failed run keeps them for
// a look at its files.
void remove_temp_dirs() {
  if (!::testing::UnitTest::GetInstance()->Passed())
    for (auto& dir : temp_dirs()) dir->keep();
  temp_dirs().clear();
}
}  // namespace

std::string make_temp_dir(const char* tag) {
  auto dir = std::make_unique<TempDir>(std::string("e2e-") + tag);
  if (dir->path().empty()) return std::string();
  if (temp_dirs().empty()) std::atexit(remove_temp_dirs);
  temp_dirs().push_back(std::move(dir));
  return temp_dirs().back()->path();
}

bool copy_file(const std::string& from, const std::string& to, bool executable) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!in || !out) return false;
  out << in.rdbuf();
  out.close();
  if (executable) chmod(to.c_str(), 0755);
  return static_cast<bool>(out);
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  std::string line;
  while (std::getline(ss, line)) lines.push_back(line);
  return lines;
}

RunResult run_process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      double timeout_s) {
  RunResult r;
  char name[] = "/tmp/fv-e2e-out-XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  const double start = now_s();
  pid_t pid = spawn(argv, env, name);
  if (pid > 0) {
    int code = wait_pid(pid, timeout_s);
    if (code == -2) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      code = -1;
    }
    r.exit_code = code;
  }
  r.seconds = now_s() - start;
  r.output = read_text(name);
  unlink(name);
  return r;
}

Background::~Background() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (!output_.empty()) unlink(output_.c_str());
}

bool Background::start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       const char* ready_word) {
  char name[] = "/tmp/fv-e2e-bg-XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  output_ = name;
  pid_ = spawn(argv, env, output_);
  if (pid_ <= 0) return false;
  if (!ready_word) return true;
  const double end = now_s() + 10;
  while (now_s() < end) {
    if (read_text(output_).find(ready_word) != std::string::npos) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void Background::kill_now(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

int Background::wait(double timeout_s) {
  if (pid_ <= 0) return -1;
  int code = wait_pid(pid_, timeout_s);
  if (code == -2) return -1;
  pid_ = -1;
  return code;
}
