// One interactive instance: the running one is found by its window class,
// and its main window receives the hand-over (1025) like any other message.
#include <windows.h>

#include "core/message_loop.h"
#include "app/single_instance.h"
#include "app/win32/main_window_win32.h"

InstanceClaim claim_single_instance(const std::string&) {
  HWND running = FindWindowW(kInteractiveClass, nullptr);
  if (!running) return InstanceClaim::OWNER;
  PostMessageW(running, MSG_ALREADY_RUNNING, 0, 0);
  return InstanceClaim::HANDED_OVER;
}

// The main window itself is the endpoint: nothing to listen on.
void listen_for_other_instances() {}
void release_single_instance() {}
