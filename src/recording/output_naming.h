#pragma once
// Final and temporary names of a recording. A recording is written under
// "<stem>.tmp.mp4" and renamed to its final name when it ends; nothing here
// ever overwrites an existing file. None of these functions shows a message:
// recording start turns a false result into its own user message.
#include <cstdint>
#include <string>

#include "platform/local_time.h"

// Longest path (in UTF-16 units, terminator excluded) any name here may have.
constexpr size_t kMaxPathUnits = 259;

// True when `path` is an existing folder or could be created with all its
// missing parents. Empty paths and existing files give false.
bool ensure_folder(const std::string& path);

// True when a file can be created and opened for writing in `folder`. The
// probe file is removed on every path. On false `*error` holds the system's
// error code (see system_error_text).
bool test_folder_writable(const std::string& folder, uint32_t* error);

// The system's description of an error code from test_folder_writable, with
// trailing line breaks removed; "Unknown system error" when there is none.
std::string system_error_text(uint32_t error);

// Picks the first free timestamp name in `folder` ("20250101_120000", then
// "_001" to "_999") and fills g_app.recording.output_path and temp_path.
// A name is taken when either its final or its temporary file exists.
bool make_output_path(const std::string& folder, const LocalTime& time);

// True when the first timestamp name (final and temporary) fits in
// `folder`; checked before the folder is created, so that a folder too deep
// for any name is not made in vain.
bool timestamp_names_fit(const std::string& folder);

// Turns g_app.cli_output_path into output_path and temp_path: relative paths
// are resolved against the current directory, an existing folder gets a
// timestamp name inside it, a name without extension gets ".mp4", and an
// existing file (or its temporary name) is refused. Both names are checked
// whole before any missing folder is created.
bool prepare_explicit_output();
