#pragma once
// File services used by the core. Paths are UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

bool file_exists(const std::string& path);       // a regular file (or anything not a folder)
bool directory_exists(const std::string& path);
bool delete_file(const std::string& path);

// Renames `from` to `to`. With `replace` an existing `to` is replaced (a link
// there is replaced itself, never written through); without it the move
// fails when anything exists at `to`, decided atomically by the file system
// where it can. Across file systems the file is copied (data flushed) into a
// newly created `to` and the source removed.
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

// True when the regular file at `path` (not a link) opens for reading and
// writing.
bool regular_file_opens_read_write(const std::string& path);

// True when another process (or another FileLock) holds the lock on `path`.
bool file_is_locked(const std::string& path);

// Every file the recorder writes into may sit in a folder that other users
// can write (/tmp, a shared group folder). So files are never written
// through a link planted at their name, never opened in a way that can block
// (a pipe or device put there), and files the recorder creates are created
// exclusively: what exists at the name is either ours or refused.

// A descriptor of the platform's files, owned by whoever receives it.
struct FileHandle {
  int fd = -1;
};

// Creates a new file for writing; fails when anything (file, folder, link,
// even a dangling one) exists at `path`. `*error` gets the system's code.
bool create_new_file(const std::string& path, FileHandle* out, int* error);
// "Create always": removes a file or link at `path` (the link itself, not
// its target), then creates the file exclusively. A folder there fails.
bool create_file_always(const std::string& path, FileHandle* out);
// Opens for appending: an existing regular file with a single name, or a new
// one created exclusively (`*created` tells which). A link, pipe, device or
// folder at `path` fails.
bool open_for_append(const std::string& path, FileHandle* out, bool* created);
// Writes all bytes at the file position (the end, for an appending handle).
bool write_file_all(const FileHandle& file, std::string_view bytes);
// Flushes the data to the disk.
bool sync_file(const FileHandle& file);
// Size of the open file.
bool handle_size(const FileHandle& file, uint64_t* bytes);
// Closes; false when the system reports a failure (a delayed write error).
bool close_file(FileHandle* file);

// Why a read of a whole input file failed.
enum class ReadStatus { kOk, kMissing, kNotRegular, kTooLarge, kFailed };

// Reads at most `max_bytes` from the start of a regular file (never a pipe
// or device, and never through a link).
bool read_file_prefix(const std::string& path, size_t max_bytes, std::string* out);
// Appends bytes (see open_for_append); with `durable` the data reaches the
// disk before returning. With `header_if_empty`, a file that is empty when
// opened first receives the header.
bool append_file(const std::string& path, const std::string& bytes, bool durable,
                 const std::string* header_if_empty = nullptr);
// "Create always" and write: the file ends up holding exactly `bytes`.
bool write_new_file(const std::string& path, const std::string& bytes);

// Reads the whole file (at most `max_bytes`; larger files fail with
// kTooLarge). Only a regular file is read, opened without blocking; a link
// at the name is followed only when it belongs to the user.
ReadStatus read_input_file(const std::string& path, size_t max_bytes, std::string* out);
bool read_whole_file(const std::string& path, size_t max_bytes, std::string* out);
// Replaces the file's contents so that a reader sees either the old or the
// new bytes: a temporary file beside it, flushed to disk, renamed over it
// (the file's permission bits are kept). A link at the name is followed only
// when it belongs to the user; another's link is replaced, not written
// through. When the folder refuses the temporary file, the file is rewritten
// in place (never through a link).
bool replace_file_contents(const std::string& path, const std::string& bytes);

// Size and last modification time (100-ns units since the epoch) of a
// regular file at `path` itself; false for a link, folder or anything else.
bool regular_file_info(const std::string& path, uint64_t* bytes, int64_t* time_100ns);
