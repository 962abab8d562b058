#include "recording/folder_probe.h"

#include <windows.h>

#include <vector>

#include "platform/win32/wide.h"

bool probe_folder_write(const std::string& folder, uint32_t* error) {
  *error = 0;
  if (folder.empty()) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  wchar_t name[MAX_PATH];
  if (!GetTempFileNameW(to_wide(folder).c_str(), L"zlk", 0, name)) {
    *error = GetLastError();
    return false;
  }
  // Opened a second time as the recorder opens its file, so a folder that
  // lets files be created but not written is caught here and not when the
  // encoder starts.
  HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD open_error = GetLastError();
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  DeleteFileW(name);
  if (h == INVALID_HANDLE_VALUE) {
    *error = open_error;
    return false;
  }
  return true;
}

std::string error_code_text(uint32_t error) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = n && text ? to_utf8(std::wstring_view(text, n)) : std::string();
  if (text) LocalFree(text);
  return out;
}

bool path_entry_exists(const std::string& path) {
  return GetFileAttributesW(to_wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string full_path_name(const std::string& path) {
  if (path.empty()) return {};
  std::wstring wide = to_wide(path);
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::vector<wchar_t> buf(n);
  DWORD m = GetFullPathNameW(wide.c_str(), n, buf.data(), nullptr);
  if (m == 0 || m >= n) return {};
  return path_from_system(std::wstring_view(buf.data(), m));
}
