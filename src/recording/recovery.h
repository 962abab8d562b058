#pragma once
// Recovery of recordings left unfinished by a process that died while
// recording: their ".tmp.mp4" files in the output folder are renamed to a
// playable name when they were written in the crash-safe (fragmented) layout,
// and every action goes to RECOVERED-RECORDINGS.txt in that folder.
#include <cstddef>
#include <cstdint>
#include <string>

// Runs once at start-up on the main thread, before any capture can start.
// Never fails: every problem only reduces what is recovered or logged.
void recover_unfinished_recordings();

// True when another recording still owns the file: it cannot be opened for
// reading and writing, a running recording holds its lock, or it was
// modified less than ten seconds ago.
bool recording_file_in_use(const std::string& path);

// True when the file (at least 1,024 bytes) has a "moof" box after an
// "ftyp" box among the top-level boxes of its first 64 KiB.
bool is_crash_safe_mp4(const std::string& path);

// The box walk of is_crash_safe_mp4 on bytes already read (any length, any
// content; never reads outside `data[0..size)`).
bool mp4_prefix_is_crash_safe(const uint8_t* data, size_t size);

// Appends "<local date and time>  <entry>\r\n" to RECOVERED-RECORDINGS.txt in
// `folder`, writing the file's header first when it is new or empty.
void append_recovery_log(const std::string& folder, const std::string& entry);
