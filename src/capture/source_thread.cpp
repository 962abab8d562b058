#include "capture/source_thread.h"

bool stop_source_thread(std::thread* thread, const std::function<void()>& wake,
                        const std::function<bool()>& wait_ended, bool* abandoned) {
  if (!thread->joinable()) return true;
  if (thread->get_id() == std::this_thread::get_id()) return false;
  wake();
  if (!wait_ended()) {
    thread->detach();
    *abandoned = true;
    return true;
  }
  thread->join();
  return true;
}
