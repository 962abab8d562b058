#pragma once
// Processes, files and folders for the end-to-end tests.
#include <sys/types.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

struct RunResult {
  int exit_code = -1;  // -1: did not end in time (it was killed)
  std::string output;  // standard output and error
  double seconds = 0;
};

// A fresh folder under $TMPDIR, removed at exit when every test passed.
std::string make_temp_dir(const char* tag);
bool copy_file(const std::string& from, const std::string& to, bool executable);
std::vector<std::string> split_lines(const std::string& text);  // on "\n"; keeps "\r"

// Runs argv[0] with the extra environment ("NAME=value") and waits at most
// `timeout_s` seconds.
RunResult run_process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      double timeout_s);

// A process started in the background. The destructor kills it.
class Background {
 public:
  Background() = default;
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  // Starts it; with `ready_word`, waits (at most 10 s) until that word
  // appears on its standard output.
  bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const char* ready_word = nullptr);
  void kill_now(int signal);
  // Waits for the exit; returns the exit code, or -1 after `timeout_s`.
  int wait(double timeout_s);
  pid_t pid() const { return pid_; }
  const std::string& output_file() const { return output_; }

 private:
  pid_t pid_ = -1;
  std::string output_;
};
