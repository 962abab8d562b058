#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/win32/wide.h"

namespace {
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// FILETIME counts from 1601; the program's wall times count from 1970.
constexpr int64_t kUnixEpochIn100ns = 116444736000000000LL;

int64_t filetime_to_unix_100ns(const FILETIME& ft) {
  ULARGE_INTEGER u;
  u.LowPart = ft.dwLowDateTime;
  u.HighPart = ft.dwHighDateTime;
  return static_cast<int64_t>(u.QuadPart) - kUnixEpochIn100ns;
}

DWORD attributes(const std::string& path) { return GetFileAttributesW(to_wide(path).c_str()); }

HANDLE open_existing(const std::string& path, DWORD access) {
  return CreateFileW(to_wide(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool write_all(HANDLE h, const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - off, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(h, bytes.data() + off, chunk, &written, nullptr) || written == 0) return false;
    off += written;
  }
  return true;
}

// The lock is one byte far past any real file size: byte-range locks on
// Windows are mandatory, so a lock over the data would also stop the
// recorder's own writer (another handle) from writing. Every holder and
// tester uses the same byte, which makes it an advisory lock as on Linux.
bool lock_marker(HANDLE h) {
  OVERLAPPED ov{};
  ov.Offset = 0xFFFFFFFEu;
  ov.OffsetHigh = 0x7FFFFFFFu;
  return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov) != 0;
}
void unlock_marker(HANDLE h) {
  OVERLAPPED ov{};
  ov.Offset = 0xFFFFFFFEu;
  ov.OffsetHigh = 0x7FFFFFFFu;
  UnlockFileEx(h, 0, 1, 0, &ov);
}
}  // namespace

bool file_exists(const std::string& path) {
  DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool directory_exists(const std::string& path) {
  DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool delete_file(const std::string& path) { return DeleteFileW(to_wide(path).c_str()) != 0; }

bool move_file(const std::string& from, const std::string& to, bool replace) {
  // Without the replace flag the system refuses an existing target itself, so
  // nothing can slip in between a check and the move. Across volumes it
  // copies; write-through makes it return only once the data is on the disk.
  DWORD flags = MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  return MoveFileExW(to_wide(from).c_str(), to_wide(to).c_str(), flags) != 0;
}

bool create_directories(const std::string& path) {
  if (path.empty()) return false;
  size_t start = 1;
  // A share ("//server/share") is never created, only what lies below it.
  if (path.size() > 2 && (path[0] == '/' || path[0] == '\\') && (path[1] == '/' || path[1] == '\\')) {
    size_t server_end = path.find_first_of("/\\", 2);
    start = server_end == std::string::npos ? path.size() : path.find_first_of("/\\", server_end + 1);
    if (start == std::string::npos) start = path.size();
  }
  for (size_t pos = path.find_first_of("/\\", start); ; pos = path.find_first_of("/\\", pos + 1)) {
    std::string partial = path.substr(0, pos);
    bool drive = partial.size() == 2 && partial[1] == ':';
    if (!partial.empty() && !drive && !CreateDirectoryW(to_wide(partial).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS && !directory_exists(partial)) {
      return false;
    }
    if (pos == std::string::npos) break;
  }
  return directory_exists(path);
}

bool free_space_bytes(const std::string& path, uint64_t* bytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(to_wide(path).c_str(), &available, nullptr, nullptr)) return false;
  *bytes = available.QuadPart;
  return true;
}

bool file_size(const std::string& path, uint64_t* bytes) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExW(to_wide(path).c_str(), GetFileExInfoStandard, &d)) return false;
  *bytes = (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
  return true;
}

bool last_write_time(const std::string& path, int64_t* time_100ns) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExW(to_wide(path).c_str(), GetFileExInfoStandard, &d)) return false;
  *time_100ns = filetime_to_unix_100ns(d.ftLastWriteTime);
  return true;
}

int64_t wall_clock_100ns() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  return filetime_to_unix_100ns(ft);
}

bool create_unique_file(const std::string& folder, const std::string& prefix, std::string* path,
                        std::string* error_text) {
  wchar_t name[MAX_PATH];
  // The system creates the file; it uses the first three characters of the prefix.
  if (!GetTempFileNameW(to_wide(folder).c_str(), to_wide(prefix).c_str(), 0, name)) {
    DWORD error = GetLastError();
    if (error_text) {
      wchar_t* text = nullptr;
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
      *error_text = text ? to_utf8(text) : std::string();
      if (text) LocalFree(text);
      while (!error_text->empty() && (error_text->back() == '\n' || error_text->back() == '\r'))
        error_text->pop_back();
    }
    return false;
  }
  *path = path_from_system(name);
  return true;
}

FileLock::~FileLock() { unlock(); }

bool FileLock::try_lock(const std::string& path) {
  unlock();
  HANDLE h = open_existing(path, GENERIC_READ);
  if (h == INVALID_HANDLE_VALUE) return false;
  if (!lock_marker(h)) {
    CloseHandle(h);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

void FileLock::unlock() {
  if (handle_ != -1) {
    HANDLE h = reinterpret_cast<HANDLE>(handle_);
    unlock_marker(h);
    CloseHandle(h);
    handle_ = -1;
  }
}

bool file_is_locked(const std::string& path) {
  ScopedHandle h(open_existing(path, GENERIC_READ));
  if (!h.valid()) return false;
  if (lock_marker(h.get())) {
    unlock_marker(h.get());
    return false;
  }
  return GetLastError() == ERROR_LOCK_VIOLATION;
}

bool read_file_prefix(const std::string& path, size_t max_bytes, std::string* out) {
  ScopedHandle h(open_existing(path, GENERIC_READ));
  if (!h.valid()) return false;
  out->assign(max_bytes, '\0');
  size_t got = 0;
  while (got < max_bytes) {
    DWORD n = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(max_bytes - got, 1u << 30));
    if (!ReadFile(h.get(), out->data() + got, want, &n, nullptr) || n == 0) break;
    got += n;
  }
  out->resize(got);
  return true;
}

bool append_file(const std::string& path, const std::string& bytes, bool durable) {
  // Append-only access: the system puts every write at the current end.
  ScopedHandle h(CreateFileW(to_wide(path).c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return false;
  bool ok = write_all(h.get(), bytes);
  if (ok && durable && !FlushFileBuffers(h.get())) ok = false;
  return ok;
}

bool read_whole_file(const std::string& path, size_t max_bytes, std::string* out) {
  out->clear();
  if (directory_exists(path)) return false;
  ScopedHandle h(open_existing(path, GENERIC_READ));
  if (!h.valid()) return false;
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h.get(), buf, sizeof buf, &n, nullptr)) {
      out->clear();
      return false;
    }
    if (n == 0) return true;
    if (out->size() + n > max_bytes) {
      out->clear();
      return false;
    }
    out->append(buf, n);
  }
}

bool replace_file_contents(const std::string& path, const std::string& bytes) {
  if (directory_exists(path)) return false;
  static std::atomic<unsigned> counter{0};
  std::string tmp = path + ".~" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter.fetch_add(1));
  {
    ScopedHandle h(CreateFileW(to_wide(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    if (h.valid()) {
      bool ok = write_all(h.get(), bytes) && FlushFileBuffers(h.get());
      h.reset();
      if (ok && MoveFileExW(to_wide(tmp).c_str(), to_wide(path).c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
      }
      DeleteFileW(to_wide(tmp).c_str());
    }
  }
  // The folder refuses new files (or the file cannot be replaced): rewrite in place.
  ScopedHandle h(CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return false;
  if (!write_all(h.get(), bytes) || !SetEndOfFile(h.get())) return false;
  return FlushFileBuffers(h.get()) != 0;
}
