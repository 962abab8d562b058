#include <gtest/gtest.h>

#include "core/ui_service.h"
#include "recording/stop_outcome.h"

namespace {
const std::string kTemp = "/v/20250101_120000.tmp.mp4";
const std::string kOut = "/v/20250101_120000.mp4";

StopResults results(const char* flags) {
  StopResults r;
  for (const char* f = flags; *f; ++f) {
    switch (*f) {
      case 'T': r.stop_timed_out = true; break;
      case 'F': r.finalized = true; break;
      case 'M': r.moved = true; break;
      case 'V': r.has_video = true; break;
      case 'W': r.write_failed = true; break;
      case 'S': r.stalled = true; break;
      case 'C': r.crash_safe = true; break;
      case 'G': r.file_gone = true; break;
      case 'D': r.file_gone = r.folder_gone = true; break;
    }
  }
  return r;
}
}  // namespace

// The first matching row wins; each case sits on a boundary between rows.
TEST(StopOutcome, FirstMatchingRow) {
  struct Case {
    const char* flags;
    int row;
    const char* caption;
    OutcomeChannel channel;
    OutcomeFile file;
    uint32_t icon;
    const std::string* path_in_text;
  };
  const Case cases[] = {
      {"TC", 1, "Recording Stopped Early", OutcomeChannel::kBoxInteractive, OutcomeFile::kKept, MB_ICONWARNING, &kTemp},
      {"TCFMVW", 1, "Recording Stopped Early", OutcomeChannel::kBoxInteractive, OutcomeFile::kKept, MB_ICONWARNING, &kTemp},
      {"TV", 2, "Recording Not Saved", OutcomeChannel::kBoxInteractive, OutcomeFile::kKept, MB_ICONERROR, &kTemp},
      {"FM", 3, "Nothing Recorded", OutcomeChannel::kMessage, OutcomeFile::kDeleted, MB_ICONINFORMATION, nullptr},
      {"FMVS", 4, "Recording Stopped Early", OutcomeChannel::kBoxInteractive, OutcomeFile::kFinalName, MB_ICONWARNING, &kOut},
      {"FMSW", 4, "Recording Stopped Early", OutcomeChannel::kBoxInteractive, OutcomeFile::kFinalName, MB_ICONWARNING, &kOut},
      {"FMW", 5, "Recording Stopped", OutcomeChannel::kBoxAlways, OutcomeFile::kFinalName, MB_ICONERROR, &kOut},
      {"FMV", 6, "", OutcomeChannel::kNone, OutcomeFile::kFinalName, 0, nullptr},
      {"FVW", 7, "Recording Not Saved", OutcomeChannel::kMessage, OutcomeFile::kKept, MB_ICONERROR, &kTemp},
      {"W", 7, "Recording Not Saved", OutcomeChannel::kMessage, OutcomeFile::kKept, MB_ICONERROR, &kTemp},
      {"VS", 8, "Recording Not Saved", OutcomeChannel::kMessage, OutcomeFile::kKept, MB_ICONERROR, &kTemp},
      {"FV", 9, "Recording Saved With a Temporary Name", OutcomeChannel::kMessage, OutcomeFile::kKept, MB_ICONWARNING, &kTemp},
      // The temporary file is gone: every row that would say "kept" says "lost" instead.
      {"FVD", 10, "Recording Lost", OutcomeChannel::kMessage, OutcomeFile::kDeleted, MB_ICONERROR, nullptr},
      {"VWG", 10, "Recording Lost", OutcomeChannel::kMessage, OutcomeFile::kDeleted, MB_ICONERROR, nullptr},
      {"TCD", 10, "Recording Lost", OutcomeChannel::kMessage, OutcomeFile::kDeleted, MB_ICONERROR, nullptr},
      {"FG", 3, "Nothing Recorded", OutcomeChannel::kMessage, OutcomeFile::kDeleted, MB_ICONINFORMATION, nullptr},
  };
  for (const Case& c : cases) {
    const StopOutcome o = decide_stop_outcome(results(c.flags), kTemp, kOut);
    EXPECT_EQ(o.row, c.row) << c.flags;
    EXPECT_EQ(o.caption, c.caption) << c.flags;
    EXPECT_EQ(o.channel, c.channel) << c.flags;
    EXPECT_EQ(o.file, c.file) << c.flags;
    EXPECT_EQ(o.icon, c.icon) << c.flags;
    if (c.path_in_text) EXPECT_NE(o.text.find("\n\n" + *c.path_in_text + "\n\n"), std::string::npos) << c.flags;
  }
}

TEST(StopOutcome, TextsOfTheWriteFailureAndUnfinishedRows) {
  const std::string write_failed_head =
      "The recording was stopped because the file could not be written. This usually means the disk is full or "
      "the output folder is no longer available.\n\nYour recording has been kept here:\n\n" + kTemp + "\n\n";
  EXPECT_EQ(decide_stop_outcome(results("VWF"), kTemp, kOut).text,
            write_failed_head + "You can rename this file yourself; it is a complete recording.");
  EXPECT_EQ(decide_stop_outcome(results("VWC"), kTemp, kOut).text,
            write_failed_head + "It plays up to the point where it stopped.");
  EXPECT_EQ(decide_stop_outcome(results("VW"), kTemp, kOut).text,
            write_failed_head + "The file is unfinished and will not play until it is repaired.");

  const std::string unfinished_head = "The recording could not be finished, so the unfinished file has been kept:\n\n" +
                                      kTemp +
                                      "\n\nThis usually means the disk is full or the output folder is no longer "
                                      "writable. ";
  EXPECT_EQ(decide_stop_outcome(results("VC"), kTemp, kOut).text,
            unfinished_head + "It plays up to the point where it stopped.");
  EXPECT_EQ(decide_stop_outcome(results("V"), kTemp, kOut).text,
            unfinished_head + "The file will not play until it is repaired.");
}

TEST(StopOutcome, LongPathIsCutToTheTextBuffer) {
  const std::string long_temp(2000, 'x');
  const StopOutcome o = decide_stop_outcome(results("FV"), long_temp, kOut);
  EXPECT_EQ(o.row, 9);
  EXPECT_EQ(o.text.size(), 1023u);
}

TEST(StopOutcome, LostRecordingSaysWhy) {
  EXPECT_EQ(decide_stop_outcome(results("FVD"), kTemp, kOut, "/v").text,
            "The recording was lost because the output folder was removed or renamed while recording, so nothing "
            "could be saved.\n\nFolder: /v\n\nChoose an output folder that stays in place while recording.");
  EXPECT_NE(decide_stop_outcome(results("FVG"), kTemp, kOut, "/v")
                .text.find("because its file was removed from the output folder while recording"),
            std::string::npos);
}
