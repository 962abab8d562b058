#include "platform/system.h"

#include <windows.h>

#include "platform/win32/os_version.h"

#include <atomic>
#include <cstdlib>

// RtlGetVersion reports the real version whatever the manifest says.
bool windows_10_build_at_least(uint32_t build) {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto get_version = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  if (!get_version) return false;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  static_assert(sizeof(OSVERSIONINFOW) == 276);
  if (get_version(&info) != 0) return false;
  return info.dwMajorVersion > 10 || (info.dwMajorVersion == 10 && info.dwBuildNumber >= build);
}

namespace {

std::atomic<bool (*)()> g_on_request{nullptr};

BOOL WINAPI on_console_event(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  auto f = g_on_request.load();
  if (f && f()) ExitProcess(128 + 2);
  // Closing the console ends the process when the handler returns: give the
  // main thread the few seconds the system allows to finish the recording.
  if (type == CTRL_CLOSE_EVENT) Sleep(4000);
  return TRUE;
}
}  // namespace

// Windows 10 version 1903 (build 18362) or newer.
bool platform_supported() { return windows_10_build_at_least(18362); }

// Console events arrive on a thread of their own; nothing needs blocking.
void block_termination_requests() {}

void watch_termination_requests(bool (*on_request)()) {
  g_on_request = on_request;
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

long current_process_id() { return static_cast<long>(GetCurrentProcessId()); }
