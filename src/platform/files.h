#pragma once
// File services used by the core. Paths are UTF-8.
#include <cstdint>
#include <string>

bool file_exists(const std::string& path);       // a regular file (or anything not a folder)
bool directory_exists(const std::string& path);
bool delete_file(const std::string& path);

// Renames `from` to `to`. With `replace` an existing `to` is replaced;
// without it the move fails when `to` exists. Across file systems the file
// is copied (data flushed) and the source removed.
bool move_file(const std::string& from, const std::string& to, bool replace);

// Creates the folder and every missing parent. True when it exists afterwards.
bool create_directories(const std::string& path);

// Bytes available to the calling user on the file system holding `path`.
bool free_space_bytes(const std::string& path, uint64_t* bytes);
bool file_size(const std::string& path, uint64_t* bytes);
// Last modification time in 100-ns units since the Unix epoch.
bool last_write_time(const std::string& path, int64_t* time_100ns);
// Now, on the same scale as last_write_time.
int64_t wall_clock_100ns();

// Creates a new empty file with a unique name in `folder` (name starts with
// `prefix`) and returns its path. On failure returns false and sets
// `error_text` to the system's description of the error.
bool create_unique_file(const std::string& folder, const std::string& prefix,
                        std::string* path, std::string* error_text);

// Advisory exclusive lock on a file, held while the object lives.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // Opens (without creating) and locks; false when the file is missing or
  // another holder has it.
  bool try_lock(const std::string& path);
  void unlock();
  bool locked() const { return handle_ != -1; }

 private:
  intptr_t handle_ = -1;  // the system's descriptor or handle; -1 when none
};

// True when another process (or another FileLock) holds the lock on `path`.
bool file_is_locked(const std::string& path);

// Reads at most `max_bytes` from the start of the file.
bool read_file_prefix(const std::string& path, size_t max_bytes, std::string* out);
// Appends bytes; with `durable` the data reaches the disk before returning.
bool append_file(const std::string& path, const std::string& bytes, bool durable);

// Reads the whole file (at most `max_bytes`; larger files fail).
bool read_whole_file(const std::string& path, size_t max_bytes, std::string* out);
// Replaces the file's contents so that a reader sees either the old or the
// new bytes: a temporary file beside it, flushed to disk, renamed over it
// (a symbolic link is followed; the file's permission bits are kept). When
// the folder refuses the temporary file, the file is rewritten in place.
bool replace_file_contents(const std::string& path, const std::string& bytes);
