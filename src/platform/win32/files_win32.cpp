#include "platform/files.h"

#include <windows.h>
#include <io.h>
#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>

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

// Opens the file at `path` itself (a link there is opened as the link, never
// followed) and keeps it only when it is a plain file on a disk: not a
// folder, link, pipe or device.
HANDLE open_regular(const std::string& path, DWORD access, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h = CreateFileW(to_wide(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  BY_HANDLE_FILE_INFORMATION local;
  if (!info) info = &local;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, info) ||
      (info->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    CloseHandle(h);
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// A FileHandle holds a C runtime descriptor that owns the system handle.
bool to_file_handle(HANDLE h, FileHandle* out) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return false;
  }
  out->fd = fd;
  return true;
}

HANDLE system_handle(const FileHandle& file) {
  return file.fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(file.fd));
}

bool write_all(HANDLE h, std::string_view bytes) {
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

bool regular_file_opens_read_write(const std::string& path) {
  HANDLE h = open_regular(path, GENERIC_READ | GENERIC_WRITE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool read_file_prefix(const std::string& path, size_t max_bytes, std::string* out) {
  ScopedHandle h(open_regular(path, GENERIC_READ, nullptr));
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

bool create_new_file(const std::string& path, FileHandle* out, int* error) {
  // Fails when anything, a link included, exists at the name.
  HANDLE h = CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = static_cast<int>(GetLastError());
    return false;
  }
  return to_file_handle(h, out);
}

bool create_file_always(const std::string& path, FileHandle* out) {
  // DeleteFileW removes a link itself, never its target, and refuses a folder.
  if (!DeleteFileW(to_wide(path).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  int error = 0;
  return create_new_file(path, out, &error);
}

bool open_for_append(const std::string& path, FileHandle* out, bool* created) {
  *created = false;
  // Two rounds: the file may appear or go between the two opens.
  for (int round = 0; round < 2; ++round) {
    BY_HANDLE_FILE_INFORMATION info;
    // Append-only access: the system puts every write at the current end.
    HANDLE h = open_regular(path, FILE_APPEND_DATA | SYNCHRONIZE, &info);
    if (h != INVALID_HANDLE_VALUE) {
      // A second name for somebody's file (a hard link planted here) is not ours to extend.
      if (info.nNumberOfLinks > 1) {
        CloseHandle(h);
        return false;
      }
      return to_file_handle(h, out);
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    h = CreateFileW(to_wide(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE, kShareAll, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *created = true;
      return to_file_handle(h, out);
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

bool write_file_all(const FileHandle& file, std::string_view bytes) {
  HANDLE h = system_handle(file);
  return h != INVALID_HANDLE_VALUE && write_all(h, bytes);
}

bool sync_file(const FileHandle& file) {
  HANDLE h = system_handle(file);
  return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
}

bool handle_size(const FileHandle& file, uint64_t* bytes) {
  LARGE_INTEGER size;
  HANDLE h = system_handle(file);
  if (h == INVALID_HANDLE_VALUE || !GetFileSizeEx(h, &size)) return false;
  *bytes = static_cast<uint64_t>(size.QuadPart);
  return true;
}

bool close_file(FileHandle* file) {
  if (file->fd < 0) return true;
  bool ok = _close(file->fd) == 0;
  file->fd = -1;
  return ok;
}

ReadStatus read_input_file(const std::string& path, size_t max_bytes, std::string* out) {
  out->clear();
  // Unlike open_regular, a link is followed here: on Windows only the
  // user's own or an administrator's links can exist in the user's folders.
  HANDLE raw = CreateFileW(to_wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return ReadStatus::kMissing;
    return directory_exists(path) ? ReadStatus::kNotRegular : ReadStatus::kFailed;
  }
  ScopedHandle h(raw);
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(raw) != FILE_TYPE_DISK || !GetFileInformationByHandle(raw, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return ReadStatus::kNotRegular;
  }
  uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > max_bytes) return ReadStatus::kTooLarge;
  out->reserve(static_cast<size_t>(size));
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(raw, buf, sizeof buf, &n, nullptr)) {
      out->clear();
      return ReadStatus::kFailed;
    }
    if (n == 0) return ReadStatus::kOk;
    if (out->size() + n > max_bytes) {
      out->clear();
      return ReadStatus::kTooLarge;
    }
    out->append(buf, n);
  }
}

bool read_whole_file(const std::string& path, size_t max_bytes, std::string* out) {
  return read_input_file(path, max_bytes, out) == ReadStatus::kOk;
}

bool regular_file_info(const std::string& path, uint64_t* bytes, int64_t* time_100ns) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExW(to_wide(path).c_str(), GetFileExInfoStandard, &d) ||
      (d.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    return false;
  }
  if (bytes) *bytes = (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
  if (time_100ns) *time_100ns = filetime_to_unix_100ns(d.ftLastWriteTime);
  return true;
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
