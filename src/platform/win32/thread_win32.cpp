#include "platform/thread.h"

#include <windows.h>

#include "platform/win32/wide.h"

bool raise_thread_priority() { return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0; }

void set_thread_name(const char* name) {
  // Present from Windows 10 1607 on; looked up so older loaders still start.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto set_description = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (set_description) set_description(GetCurrentThread(), to_wide(name).c_str());
}

unsigned long current_thread_id() { return GetCurrentThreadId(); }
