#pragma once
// The operating-system side of the output-folder checks.
#include <cstdint>
#include <string>

// Creates an empty file with a unique name in `folder`, opens it again for
// writing and removes it. On failure `*error` is the system's error code.
bool probe_folder_write(const std::string& folder, uint32_t* error);

// The system's text for an error code of probe_folder_write; empty when unknown.
std::string error_code_text(uint32_t error);

// Anything (file, folder, link, even a dangling one) exists at `path`.
bool path_entry_exists(const std::string& path);

// Absolute form of `path`: relative paths are resolved against the current
// directory and "." and ".." are removed without following links. A trailing
// separator is kept. Empty on failure.
std::string full_path_name(const std::string& path);
