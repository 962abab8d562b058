#include "recording/trace_file.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace {
HANDLE as_handle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

TraceFile::~TraceFile() {
  if (handle_ != -1) CloseHandle(as_handle(handle_));
}

bool TraceFile::open_append(const std::string& path) {
  if (handle_ != -1) CloseHandle(as_handle(handle_));
  handle_ = -1;
  created_ = false;
  // Append-only access: each write lands at the end of the file as a whole,
  // also against writers in other processes, which share the file.
  HANDLE h = CreateFileW(to_wide(path).c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  created_ = GetLastError() != ERROR_ALREADY_EXISTS;
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool TraceFile::write(std::string_view bytes) {
  if (handle_ == -1) return false;
  DWORD written = 0;
  return WriteFile(as_handle(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

// NTFS journals the new file's name with its folder, so flushing the file is
// enough here (unlike Linux, where the folder needs its own flush).
void TraceFile::sync_and_close() {
  if (handle_ == -1) return;
  FlushFileBuffers(as_handle(handle_));
  CloseHandle(as_handle(handle_));
  handle_ = -1;
  created_ = false;
}
