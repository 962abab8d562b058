// The auto-reset event as a kernel event object, so that system services
// which signal an event handle (the sound engine's packet event) wake the
// same waiter as set().
#include <windows.h>

#include <cstdlib>

#include "platform/event.h"

AutoResetEvent::AutoResetEvent() : handle_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  // Without its event object nothing could ever wake a waiter: as fatal as
  // running out of memory for the record itself.
  if (!handle_) std::abort();
}

AutoResetEvent::~AutoResetEvent() { CloseHandle(static_cast<HANDLE>(handle_)); }

void AutoResetEvent::set() { SetEvent(static_cast<HANDLE>(handle_)); }

bool AutoResetEvent::wait(uint32_t timeout_ms) {
  const DWORD ms = timeout_ms == kWaitInfinite ? INFINITE : static_cast<DWORD>(timeout_ms);
  return WaitForSingleObject(static_cast<HANDLE>(handle_), ms) == WAIT_OBJECT_0;
}

void* AutoResetEvent::native_handle() const { return handle_; }
