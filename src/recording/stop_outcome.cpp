#include "recording/stop_outcome.h"

#include "core/ui_service.h"
#include "platform/text.h"

namespace {
StopOutcome make(int row, OutcomeChannel channel, OutcomeFile file, uint32_t icon, const char* caption,
                 std::string text) {
  StopOutcome o;
  o.row = row;
  o.channel = channel;
  o.file = file;
  o.icon = icon;
  o.caption = caption;
  o.text = utf16_truncate(text, 1023);
  return o;
}
}  // namespace

StopOutcome decide_stop_outcome(const StopResults& r, const std::string& temp_path, const std::string& output_path,
                                const std::string& folder) {
  const char* temp = temp_path.c_str();
  const char* out = output_path.c_str();
  // Every row that says the file was kept would point at nothing: say what
  // is true instead. (Without a picture and without a write failure the
  // "Nothing Recorded" row is true as it stands.)
  if (r.file_gone && (r.stop_timed_out || r.has_video || r.write_failed)) {
    const char* why = r.folder_gone ? "the output folder was removed or renamed while recording"
                                    : "its file was removed from the output folder while recording";
    return make(kRowLost, OutcomeChannel::kMessage, OutcomeFile::kDeleted, MB_ICONERROR, "Recording Lost",
                format_cut(1024,
                           "The recording was lost because %s, so nothing could be saved.\n\n"
                           "Folder: %s\n\nChoose an output folder that stays in place while recording.",
                           why, folder.c_str()));
  }
  if (r.stop_timed_out && r.crash_safe) {
    return make(kRowTimedOutCrashSafe, OutcomeChannel::kBoxInteractive, OutcomeFile::kKept, MB_ICONWARNING, "Recording Stopped Early",
                format_cut(1024,
                           "Frelvanta's encoder stopped responding, so the recording was ended early.\n\n"
                           "The file was written in a crash-safe format, so it plays up to the point where it "
                           "stopped. It has been kept here:\n\n%s\n\n"
                           "Frelvanta will now close; please start it again before recording.",
                           temp));
  }
  if (r.stop_timed_out) {
    return make(kRowTimedOut, OutcomeChannel::kBoxInteractive, OutcomeFile::kKept, MB_ICONERROR, "Recording Not Saved",
                format_cut(1024,
                           "Frelvanta's encoder stopped responding and the recording could not be finished.\n\n"
                           "The unfinished file has been kept here:\n\n%s\n\n"
                           "It will not play until it is repaired. Frelvanta will now close; please start it "
                           "again before recording.",
                           temp));
  }
  if (!r.has_video && !r.write_failed) {
    return make(kRowNothingRecorded, OutcomeChannel::kMessage, OutcomeFile::kDeleted, MB_ICONINFORMATION, "Nothing Recorded",
                "Nothing was recorded.\n\nThe recording was too short to capture a picture, so no file was saved.");
  }
  if (r.finalized && r.moved && r.stalled) {
    return make(kRowSavedAfterStall, OutcomeChannel::kBoxInteractive, OutcomeFile::kFinalName, MB_ICONWARNING,
                "Recording Stopped Early",
                format_cut(1024,
                           "The encoder stopped responding for several seconds, so the recording was ended "
                           "early. Everything recorded up to that point was saved here:\n\n%s\n\n"
                           "You can still play this file.",
                           out));
  }
  if (r.finalized && r.moved && r.write_failed) {
    return make(kRowSavedAfterWriteFailure, OutcomeChannel::kBoxAlways, OutcomeFile::kFinalName, MB_ICONERROR, "Recording Stopped",
                format_cut(1024,
                           "The recording stopped early because the file could not be written. This usually "
                           "means the disk is full or the output folder is no longer available.\n\n"
                           "Everything recorded up to that point was saved here:\n\n%s\n\n"
                           "You can still play this file.",
                           out));
  }
  if (r.finalized && r.moved) {
    return make(kRowSaved, OutcomeChannel::kNone, OutcomeFile::kFinalName, 0, "", "");
  }
  if (r.write_failed) {
    const char* tail = r.finalized     ? "You can rename this file yourself; it is a complete recording."
                       : r.crash_safe ? "It plays up to the point where it stopped."
                                      : "The file is unfinished and will not play until it is repaired.";
    return make(kRowWriteFailedKept, OutcomeChannel::kMessage, OutcomeFile::kKept, MB_ICONERROR, "Recording Not Saved",
                format_cut(1024,
                           "The recording was stopped because the file could not be written. This usually "
                           "means the disk is full or the output folder is no longer available.\n\n"
                           "Your recording has been kept here:\n\n%s\n\n%s",
                           temp, tail));
  }
  if (!r.finalized) {
    const char* tail =
        r.crash_safe ? "It plays up to the point where it stopped." : "The file will not play until it is repaired.";
    return make(kRowNotFinalized, OutcomeChannel::kMessage, OutcomeFile::kKept, MB_ICONERROR, "Recording Not Saved",
                format_cut(1024,
                           "The recording could not be finished, so the unfinished file has been kept:\n\n%s\n\n"
                           "This usually means the disk is full or the output folder is no longer writable. %s",
                           temp, tail));
  }
  return make(kRowNotRenamed, OutcomeChannel::kMessage, OutcomeFile::kKept, MB_ICONWARNING,
              "Recording Saved With a Temporary Name",
              format_cut(1024,
                         "The recording was saved but could not be given its final name. It remains here:\n\n%s\n\n"
                         "You can rename this file yourself; it is a complete recording.",
                         temp));
}

StopOutcome sound_interrupted_notice(const std::string& path) {
  StopOutcome o;
  o.channel = OutcomeChannel::kMessage;
  o.file = OutcomeFile::kFinalName;
  o.icon = MB_ICONWARNING;
  o.caption = "Sound Interrupted";
  o.text = format_cut(1024,
                      "The sound was interrupted during the recording: the sound server or a sound device went "
                      "away. The recording kept its full length, with silence where the sound is missing.\n\n%s",
                      path.c_str());
  return o;
}
