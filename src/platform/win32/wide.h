#pragma once
// UTF-8 inside the program, UTF-16 at the system's interfaces. Paths use '/'
// inside (the system accepts it everywhere the core passes a path); what the
// system hands back is turned to '/' here, so the core's path pieces work.
#include <windows.h>

#include <string>
#include <string_view>

inline std::wstring to_wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

inline std::string to_utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// A path from the system, with '/' separators.
inline std::string path_from_system(std::wstring_view wide) {
  std::string s = to_utf8(wide);
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

// Owns a file handle and closes it (INVALID_HANDLE_VALUE when empty).
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  void reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_;
};
