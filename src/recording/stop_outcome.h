#pragma once
// What becomes of a stopped recording's file and what the user is told: the
// first matching row of the outcome table decides.
#include <cstdint>
#include <string>

struct StopResults {
  bool stop_timed_out = false;  // the encoder worker was abandoned
  bool finalized = false;       // the worker ended and finalised the file
  bool moved = false;           // the temporary file got its final name
  bool has_video = false;       // at least one picture reached the file
  bool write_failed = false;    // the encoder failed to write
  bool stalled = false;         // the watchdog reported a stalled encoder
  bool crash_safe = false;      // fragmented H.264: plays up to where writing stopped
  bool file_gone = false;       // not moved, and no file is left at the temporary name
  bool folder_gone = false;     // ...because the output folder itself is gone
};

enum class OutcomeChannel {
  kNone,             // success: nothing shown
  kBoxInteractive,   // message box in interactive mode, nothing in a command-line run
  kBoxAlways,        // message box in both modes
  kMessage,          // show_message: a box, or a console line in a command-line run
};

enum class OutcomeFile {
  kFinalName,  // the file has its final name
  kKept,       // left under its temporary name (output_path then points at it)
  kDeleted,    // removed; no output remains
};

// The rows of the outcome table, in the order they are tried.
enum OutcomeRow : int {
  kRowTimedOutCrashSafe = 1,  // the encoder hung; the crash-safe file plays up to there
  kRowTimedOut = 2,           // the encoder hung; the unfinished file is kept
  kRowNothingRecorded = 3,
  kRowSavedAfterStall = 4,
  kRowSavedAfterWriteFailure = 5,
  kRowSaved = 6,  // the clean finish: the file has its final name, nothing to say
  kRowWriteFailedKept = 7,
  kRowNotFinalized = 8,
  kRowNotRenamed = 9,
  kRowLost = 10,
};

struct StopOutcome {
  // 1..9 as in the outcome table; 10 when the file that rows 1, 2, 7, 8 and
  // 9 would report as kept no longer exists (the recording was lost).
  int row = 0;
  OutcomeChannel channel = OutcomeChannel::kNone;
  OutcomeFile file = OutcomeFile::kFinalName;
  uint32_t icon = 0;  // MB_ICON* style
  std::string caption;
  std::string text;  // cut to 1024 UTF-16 units
};

// `folder` is the output folder, named in the lost-recording message.
StopOutcome decide_stop_outcome(const StopResults& r, const std::string& temp_path, const std::string& output_path,
                                const std::string& folder = std::string());
// Shown after the outcome when a sound stream failed during the recording
// and the file at `path` was kept: its sound has silent stretches.
StopOutcome sound_interrupted_notice(const std::string& path);
