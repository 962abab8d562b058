#pragma once
// Whether another thread of this process has had its turn: it woke, ran and
// went back to sleep. A test that checks that something did NOT happen waits
// for the thread under test to have had its chance to do it, instead of
// sleeping for a while and hoping it had. Reads /proc (Linux).
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "support/wait.h"

// The calling thread's id, to hand to a ThreadWatch in another thread.
inline pid_t current_thread_id() { return static_cast<pid_t>(syscall(SYS_gettid)); }

class ThreadWatch {
 public:
  explicit ThreadWatch(pid_t tid) : tid_(tid) {}

  // Waits until the thread sleeps (blocked in a wait); false after `limit`.
  bool wait_asleep(std::chrono::milliseconds limit = std::chrono::seconds(5)) const {
    return wait_until([&] { return state() == 'S'; }, limit);
  }
  // Counts the thread's turns from now on; the thread should be asleep.
  void mark() { base_ = sleeps(); }
  // Waits until the thread has woken and gone back to sleep since mark().
  bool wait_turn(std::chrono::milliseconds limit = std::chrono::seconds(5)) const {
    return wait_until([&] { return sleeps() > base_ && state() == 'S'; }, limit);
  }

 private:
  std::string task_file(const char* name) const {
    return "/proc/self/task/" + std::to_string(tid_) + "/" + name;
  }
  // R running, S sleeping in a wait, D in the kernel, ...; 0 when gone.
  char state() const {
    std::ifstream in(task_file("stat"));
    std::string line;
    std::getline(in, line);
    const size_t paren = line.rfind(')');  // the name may hold spaces
    return paren != std::string::npos && paren + 2 < line.size() ? line[paren + 2] : 0;
  }
  // How often the thread has blocked so far.
  long sleeps() const {
    std::ifstream in(task_file("status"));
    std::string key;
    long value = -1;
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      if (fields >> key && key == "voluntary_ctxt_switches:") fields >> value;
    }
    return value;
  }

  pid_t tid_;
  long base_ = 0;
};
