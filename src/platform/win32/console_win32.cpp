#include "platform/console.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide.h"

// A real console takes UTF-16 (any code page shows the text right); a pipe
// or file gets the UTF-8 bytes. A windowed program started from a console
// has no standard handles until it attaches to that console, and then
// reaches it through CONOUT$.
void console_write_line(std::string_view text) {
  HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
  ScopedHandle console;
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    console.reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    if (!console.valid()) return;
    out = console.get();
  }
  std::string line(text);
  line += "\r\n";
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    std::wstring wide = to_wide(line);
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  size_t off = 0;
  while (off < line.size()) {
    DWORD written = 0;
    if (!WriteFile(out, line.data() + off, static_cast<DWORD>(line.size() - off), &written, nullptr) || written == 0)
      return;
    off += written;
  }
}

void console_attach() { AttachConsole(ATTACH_PARENT_PROCESS); }  // none to join is no error
