#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "recording/diagnostics_report.h"

namespace {
std::string read_fixture(const char* name) {
  std::ifstream in(std::string(FV_RECORDING_FIXTURES) + "/" + name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

DiagValues sample_values() {
  DiagValues v;
  v.config_capture_audio = 1;
  v.config_application_local_audio = 1;
  v.active_system_audio = 1;
  v.qpc_frequency = 10'000'000;
  v.callback_count = 301;
  v.max_frame_gap = 2'345'678;           // 234.5678 ms, truncated
  v.callback_work_count = 3;
  v.callback_work_total = 4'500;         // 1,500 ticks = 150 us per call
  v.callback_interval_total = 333'334;   // over 2 intervals: 16,666.7 us, truncated
  v.video_duplicate_frames = 7;
  v.video_stream_ticks = 2;
  v.video_sample_wait_failures = 3;
  v.audio_backpressure_events = 4;
  v.encoder_audio_dropped = 5;
  v.clock_jump_count = 6;
  v.clock_jump_total_ms = 812;
  v.audio_overflow_count = 9;
  v.audio_near_overflow_count = 10;
  v.audio_max_buffered_bytes = 1048576;
  v.mic_overflow_count = 11;
  v.mic_near_overflow_count = 12;
  v.mic_max_buffered_bytes = 65536;
  return v;
}

std::string value_of(const std::string& report, const std::string& key) {
  size_t at = report.find("\n" + key + "=");
  if (at == std::string::npos) return "<missing>";
  at += key.size() + 2;
  return report.substr(at, report.find('\r', at) - at);
}
}  // namespace

TEST(DiagReport, MatchesFixtureByteForByte) {
  EXPECT_EQ(format_diag_report(sample_values()), read_fixture("diag_report.txt"));
}

// The derived values guard their divisions and use a 128-bit intermediate.
TEST(DiagReport, DerivedValues) {
  struct Case {
    const char* what;
    uint64_t freq, gap, work_count, work_total, interval_total;
    const char *gap_ms, *work_us, *interval_us;
  };
  const Case cases[] = {
      {"one callback has no interval", 10'000'000, 0, 1, 20'000, 0, "0", "2000", "0"},
      {"no callbacks", 10'000'000, 0, 0, 0, 0, "0", "0", "0"},
      {"zero frequency", 0, 5'000, 4, 100, 100, "0", "0", "0"},
      {"gap too large for 64-bit product", 10'000'000, 0x7000000000000000ull, 2, 0, 0,
       "807045053224792", "0", "0"},
  };
  for (const Case& c : cases) {
    DiagValues v;
    v.qpc_frequency = c.freq;
    v.max_frame_gap = c.gap;
    v.callback_work_count = c.work_count;
    v.callback_work_total = c.work_total;
    v.callback_interval_total = c.interval_total;
    const std::string r = format_diag_report(v);
    EXPECT_EQ(value_of(r, "frame_callback_max_gap_ms"), c.gap_ms) << c.what;
    EXPECT_EQ(value_of(r, "frame_callback_work_avg_us"), c.work_us) << c.what;
    EXPECT_EQ(value_of(r, "frame_callback_interval_avg_us"), c.interval_us) << c.what;
  }
}
