#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

bool raise_thread_priority() {
  sched_param p{};
  p.sched_priority = 1;
  if (pthread_setschedparam(pthread_self(), SCHED_RR, &p) == 0) return true;
  // Without real-time rights a lower nice value is the next best thing.
  return setpriority(PRIO_PROCESS, 0, -10) == 0;
}

void set_thread_name(const char* name) { pthread_setname_np(pthread_self(), name); }

unsigned long current_thread_id() { return static_cast<unsigned long>(gettid()); }
