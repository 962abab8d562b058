#include "platform/system.h"
#include "platform/thread.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

bool platform_supported() { return true; }

namespace {
sigset_t termination_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  // The terminal closing: the recording is finished and saved as for any
  // other request, not cut off with its temporary name.
  sigaddset(&set, SIGHUP);
  return set;
}
}  // namespace

void block_termination_requests() {
  // A closed pipe (standard error piped into a program that has ended) is a
  // failed write, not a reason to lose the recording.
  signal(SIGPIPE, SIG_IGN);
  sigset_t set = termination_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void watch_termination_requests(bool (*on_request)()) {
  // Without the watcher the requests stay blocked; the tray's Exit still works.
  thread_start_detached([on_request] {
    sigset_t set = termination_set();
    int sig = 0;
    while (sigwait(&set, &sig) == 0) {
      if (on_request()) std::_Exit(128 + sig);
    }
  });
}

long current_process_id() { return static_cast<long>(getpid()); }
