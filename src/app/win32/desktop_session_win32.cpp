// The desktop session on Windows: the system stays awake while a recording
// runs, and the shell opens a recording's folder with the file selected.
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "app/win32/desktop_session_win32.h"
#include "core/trace.h"
#include "platform/win32/keep_awake.h"
#include "platform/win32/wide.h"

void Win32DesktopSession::keep_awake(bool on) {
  KeepAwakeMode mode = keep_system_awake(on);
  if (on) trace_event(mode == KeepAwakeMode::kPowerRequest ? "power.keep_awake mode=request" : "power.keep_awake mode=execution_state");
}

void Win32DesktopSession::show_in_folder(const std::string& file_path) {
  std::wstring path = to_wide(file_path);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  PIDLIST_ABSOLUTE item = nullptr;
  if (FAILED(SHParseDisplayName(path.c_str(), nullptr, &item, 0, nullptr)) || !item) return;
  SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
  CoTaskMemFree(item);
}
