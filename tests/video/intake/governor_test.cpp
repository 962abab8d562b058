// Rate set-up, the measuring-window decisions and the audio clamp.
#include <gtest/gtest.h>

#include "core/app_state.h"
#include "platform/clock.h"
#include "video/intake/governor.h"
#include "video/intake/intake_fakes.h"

namespace {
using GovernorTest = IntakeTest;

struct SetupCase {
  const char* name;
  bool timing_ok;
  uint32_t num, den;
  uint32_t max_fps, governor, bitrate, min_kbps, min_fps;
  uint32_t want_num, want_den, want_limit, want_min, want_max;
  const char* want_trace;
};

TEST_F(GovernorTest, RateSetupFixesRateAndBounds) {
  const SetupCase cases[] = {
      {"144Hz capped at 60", true, 144, 1, 60, 0, 8000, 2000, 10, 60, 1, 60, 0, 0,
       "capture.compositor 144/1 effective=60/1"},
      {"60Hz with cap 60 is not limited", true, 60, 1, 60, 0, 8000, 2000, 10, 60, 1, 0, 0, 0,
       "capture.compositor 60/1 effective=60/1"},
      {"timing unavailable", false, 144, 1, 0, 0, 8000, 2000, 10, 60, 1, 0, 0, 0,
       "capture.compositor 0/0 effective=60/1"},
      {"zero denominator", true, 60, 0, 0, 0, 8000, 2000, 10, 60, 1, 0, 0, 0,
       "capture.compositor 60/0 effective=60/1"},
      {"NTSC rate kept as a fraction", true, 60000, 1001, 60, 1, 8000, 2000, 10, 60000, 1001, 0, 15, 60,
       "capture.compositor 60000/1001 effective=60000/1001"},
      {"governor floor from bit rate", true, 60, 1, 0, 1, 8000, 2000, 10, 60, 1, 0, 15, 60, nullptr},
      {"governor floor from MinAdaptiveFps", true, 60, 1, 0, 1, 8000, 2000, 24, 60, 1, 0, 24, 60, nullptr},
      {"floor never above the full rate", true, 30, 1, 0, 1, 1000, 2000, 10, 30, 1, 0, 30, 30, nullptr},
      {"no bit rate", true, 60, 1, 0, 1, 0, 2000, 0, 60, 1, 0, 1, 60, nullptr},
      {"cap below display with governor", true, 144, 1, 30, 1, 8000, 2000, 10, 30, 1, 30, 10, 30, nullptr},
  };
  for (const SetupCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();  // each case starts from a fresh state block and trace
    SetUp();
    Config& cfg = g_app.config;
    cfg.VideoMaxFramerate = c.max_fps;
    cfg.EnableAdaptiveGovernor = c.governor;
    cfg.VideoBitrate = c.bitrate;
    cfg.MinAdaptiveBitrateKbps = c.min_kbps;
    cfg.MinAdaptiveFps = c.min_fps;
    FrameRate r = governor_rate_setup(c.timing_ok, c.num, c.den);
    EXPECT_EQ(r.num, c.want_num);
    EXPECT_EQ(r.den, c.want_den);
    const Governor& g = g_app.governor;
    EXPECT_EQ(g.frame_limit_rate, c.want_limit);
    EXPECT_EQ(g.governor_min_rate, c.want_min);
    EXPECT_EQ(g.governor_max_rate, c.want_max);
    EXPECT_EQ(g.governor_rate, c.want_max);
    if (c.want_trace != nullptr) {
      ASSERT_EQ(trace_lines().size(), 1u);
      EXPECT_EQ(trace_lines()[0], c.want_trace);
    }
  }
}

struct WindowCase {
  const char* name;
  uint32_t rate, min, max;
  uint32_t callbacks, encoded, gate, encode_drops;
  bool audio_busy;  // ring at 60 %
  uint32_t want_rate;
  const char* want_trace;
};

TEST_F(GovernorTest, WindowEvaluationDecides) {
  const WindowCase cases[] = {
      {"encoder refusals step down by a tenth", 60, 15, 60, 300, 300, 0, 20, false, 54,
       "encoder.governor rate=60 callbacks=300 encoded=300 gate=0 unexpected=0 drops=20 ratio=7% audio=0 action=down"},
      {"clean window steps up by a quarter of the room", 54, 15, 60, 270, 270, 0, 0, false, 55,
       "encoder.governor rate=54 callbacks=270 encoded=270 gate=0 unexpected=0 drops=0 ratio=0% audio=0 action=up"},
      {"gate drops of a faster display are expected", 30, 15, 60, 300, 150, 150, 0, false, 37,
       "encoder.governor rate=30 callbacks=300 encoded=150 gate=150 unexpected=0 drops=0 ratio=0% audio=0 action=up"},
      {"gate drops beyond the surplus count", 30, 15, 60, 300, 140, 160, 0, false, 30,
       "encoder.governor rate=30 callbacks=300 encoded=140 gate=160 unexpected=10 drops=10 ratio=3% audio=0 action=hold"},
      {"rate 3 steps down by one", 3, 2, 60, 15, 10, 0, 5, false, 2, nullptr},
      {"never below the floor", 3, 3, 60, 15, 10, 0, 5, false, 3, nullptr},
      {"busy audio holds the rate", 54, 15, 60, 270, 270, 0, 0, true, 54,
       "encoder.governor rate=54 callbacks=270 encoded=270 gate=0 unexpected=0 drops=0 ratio=0% audio=1 action=hold"},
      {"full rate holds", 60, 15, 60, 300, 300, 0, 0, false, 60, nullptr},
  };
  for (const WindowCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();  // each case starts from a fresh state block and trace
    SetUp();
    g_app.config.EnableAdaptiveGovernor = 1;
    Governor& g = g_app.governor;
    g.governor_min_rate = c.min;
    g.governor_max_rate = c.max;
    g.governor_rate = c.rate;
    const int64_t start = 50 * kQpcFrequency;
    g.window_start = start;
    g.window_callbacks = c.callbacks;
    g.window_encoded = c.encoded;
    g.window_gate_drops = c.gate;
    g.window_encode_drops = c.encode_drops;
    if (c.audio_busy) {
      g_fakes.system_open = true;
      g_fakes.system_fill = 60;
      g_fakes.system_size = 100;
    }
    governor_evaluate_window(start + 5 * kQpcFrequency, c.rate);
    EXPECT_EQ(g.governor_rate, c.want_rate);
    if (c.want_trace != nullptr) {
      ASSERT_EQ(trace_lines().size(), 1u);
      EXPECT_EQ(trace_lines()[0], c.want_trace);
    }
    EXPECT_EQ(g.window_start, 0);
    EXPECT_EQ(g.window_callbacks + g.window_encoded + g.window_gate_drops + g.window_encode_drops, 0u);
  }
}

TEST_F(GovernorTest, WrappedWindowRestartsWithoutDecision) {
  g_app.config.EnableAdaptiveGovernor = 1;
  Governor& g = g_app.governor;
  g.governor_rate = 30;
  g.governor_max_rate = 60;
  g.window_start = 10;
  g.window_callbacks = 0;
  g.window_gate_drops = 7;
  governor_evaluate_window(5 * kQpcFrequency + 10, 30);
  EXPECT_EQ(g.governor_rate, 30u);
  EXPECT_EQ(g.window_start, 5 * kQpcFrequency + 10);
  EXPECT_TRUE(trace_lines().empty());
}

struct ClampCase {
  const char* name;
  uint32_t rate, min, max;
  uint32_t fill_system, fill_mic;  // percent of a 1000-byte ring
  bool open;
  uint32_t want_rate;
  const char* want_trace;
};

TEST_F(GovernorTest, AudioClampLowersRate) {
  const ClampCase cases[] = {
      {"80 % drops to 5", 60, 15, 60, 80, 0, true, 5, "encoder.audio_clamp 60->5 pressure=80"},
      {"fuller ring counts", 60, 15, 60, 10, 80, true, 5, "encoder.audio_clamp 60->5 pressure=80"},
      {"75 % never raises a low rate", 4, 2, 60, 90, 0, true, 4, nullptr},
      {"75 % with a full rate of 3", 3, 1, 3, 90, 0, true, 3, nullptr},
      {"60 % takes a quarter", 40, 15, 60, 60, 0, true, 30, "encoder.audio_clamp 40->30 pressure=60"},
      {"60 % stops at the floor", 16, 15, 60, 60, 0, true, 15, "encoder.audio_clamp 16->15 pressure=60"},
      {"60 % at the floor", 15, 15, 60, 60, 0, true, 15, nullptr},
      {"below half nothing", 60, 15, 60, 49, 0, true, 60, nullptr},
      {"no audio stream", 60, 15, 60, 90, 0, false, 60, nullptr},
  };
  for (const ClampCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();  // each case starts from a fresh state block and trace
    SetUp();
    g_app.config.EnableAdaptiveGovernor = 1;
    Governor& g = g_app.governor;
    g.governor_rate = c.rate;
    g.governor_min_rate = c.min;
    g.governor_max_rate = c.max;
    g.window_start = 123;
    g.window_callbacks = 9;
    g_fakes.system_open = c.open;
    g_fakes.mic_open = c.open;
    g_fakes.system_fill = c.fill_system * 10;
    g_fakes.system_size = 1000;
    g_fakes.mic_fill = c.fill_mic * 10;
    g_fakes.mic_size = 1000;
    audio_clamp();
    EXPECT_EQ(g.governor_rate, c.want_rate);
    bool changed = c.want_rate != c.rate;
    EXPECT_EQ(g.window_start, changed ? 0 : 123);
    if (c.want_trace != nullptr) {
      ASSERT_EQ(trace_lines().size(), 1u);
      EXPECT_EQ(trace_lines()[0], c.want_trace);
    } else {
      EXPECT_TRUE(trace_lines().empty());
    }
  }
}

// The process stood still for eight seconds: the sound the server kept for
// it fills the ring at once. For a second the clamp leaves the rate alone,
// then it acts on what is still there.
TEST_F(GovernorTest, AudioClampHoldsForASecondAfterTheProcessStoodStill) {
  g_app.config.EnableAdaptiveGovernor = 1;
  Governor& g = g_app.governor;
  g.governor_rate = 60;
  g.governor_min_rate = 15;
  g.governor_max_rate = 60;
  g_fakes.system_open = true;
  g_fakes.system_size = 1000;
  g_fakes.system_fill = 100;
  for (int k = 0; k < 10; ++k) {
    g_manual_now += kQpcFrequency / 10;
    audio_clamp();
  }
  EXPECT_FALSE(audio_clamp_held());
  g_manual_now += 8 * kQpcFrequency;
  g_fakes.system_fill = 990;
  for (int k = 0; k < 9; ++k) {
    audio_clamp();
    EXPECT_TRUE(audio_clamp_held()) << k;
    EXPECT_EQ(g.governor_rate, 60u) << k;
    g_manual_now += kQpcFrequency / 10;
  }
  g_manual_now += kQpcFrequency / 10;
  audio_clamp();
  EXPECT_FALSE(audio_clamp_held());
  EXPECT_EQ(g.governor_rate, 5u);
}

TEST_F(GovernorTest, AudioPressureTakesLargerFillAndSize) {
  g_fakes.system_open = true;
  g_fakes.system_size = 0;  // ring not there yet
  g_fakes.system_fill = 500;
  EXPECT_EQ(audio_pressure(), 0u);
  g_fakes.mic_open = true;
  g_fakes.mic_size = 4096;
  g_fakes.mic_fill = 1024;
  EXPECT_EQ(audio_pressure(), 25u);
  g_fakes.system_size = 8192;
  g_fakes.system_fill = 4096;
  // Fill and size are each the larger of the two rings.
  EXPECT_EQ(audio_pressure(), 50u);
}
}  // namespace
