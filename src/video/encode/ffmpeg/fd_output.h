#pragma once
// The writer's output file, handed over already created and open. FFmpeg
// writes it through its I/O callbacks and never opens a path itself, so a
// link or file planted at the name after the platform layer created it
// exclusively cannot redirect the recording.
#include "platform/files.h"

struct AVFormatContext;

// Gives `oc` an output context over the file; takes ownership of `file`
// (closed on failure too). Returns 0 or an FFmpeg error code.
int fd_output_open(AVFormatContext* oc, FileHandle file);
// Flushes what is buffered, frees the context and closes the file; `oc->pb`
// is null afterwards. Returns the first write or close error, else 0.
int fd_output_close(AVFormatContext* oc);
