#include "platform/thread.h"

#include <system_error>
#include <utility>

bool thread_start(std::thread* thread, std::function<void()> body) {
  try {
    *thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

bool thread_start_detached(std::function<void()> body) {
  std::thread thread;
  if (!thread_start(&thread, std::move(body))) return false;
  thread.detach();
  return true;
}
