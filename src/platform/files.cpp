// File operations made of the system's primitives, the same on every system.
#include "platform/files.h"

bool append_file(const std::string& path, const std::string& bytes, bool durable, const std::string* header_if_empty) {
  FileHandle f;
  bool created = false;
  if (!open_for_append(path, &f, &created)) return false;
  uint64_t size = 0;
  bool ok = true;
  if (header_if_empty && handle_size(f, &size) && size == 0) ok = write_file_all(f, *header_if_empty);
  ok = ok && write_file_all(f, bytes);
  if (ok && durable && !sync_file(f)) ok = false;
  if (!close_file(&f)) ok = false;
  return ok;
}

bool write_new_file(const std::string& path, const std::string& bytes) {
  FileHandle f;
  if (!create_file_always(path, &f)) return false;
  bool ok = write_file_all(f, bytes);
  return close_file(&f) && ok;
}
