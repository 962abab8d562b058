// The capture's frame schedule, driven by a hand-advanced clock: content that
// changes once per refresh reaches the recording every time, even with
// jitter, and its frames are timed exactly one period apart, while faster
// content is held to the rate and a stall earns no burst afterwards.
#include "capture/frame_pacer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace {
constexpr int64_t kFreq = 10'000'000;

// The capture loop as the X11 source runs it: a change marks the picture
// dirty; a dirty picture is taken as soon as the pacer allows (at once, or
// when woken at due()). Returns the times of the frames taken and checks the
// pacing rule at every change: a change at least one period minus the
// tolerance after the last frame is taken at once.
struct Capture {
  std::vector<int64_t> taken;
  std::vector<int64_t> times;  // the time the pacer gave each frame
  std::vector<int> content;  // which change each frame shows
};

Capture run_capture(FramePacer& pacer, const std::vector<int64_t>& changes) {
  Capture r;
  int64_t last = INT64_MIN;
  bool dirty = false;
  for (size_t i = 0; i <= changes.size(); ++i) {
    const int64_t next_change = i < changes.size() ? changes[i] : INT64_MAX;
    // A pending picture is taken when the pacer's wake-up comes first.
    if (dirty && pacer.due() < next_change) {
      const int64_t t = pacer.due();
      EXPECT_TRUE(pacer.ready(t));
      r.times.push_back(pacer.take(t));
      r.taken.push_back(t);
      r.content.push_back(static_cast<int>(i) - 1);
      last = t;
      dirty = false;
    }
    if (i == changes.size()) break;
    const int64_t t = changes[i];
    if (last != INT64_MIN && t >= last + pacer.period() - pacer.tolerance()) {
      EXPECT_TRUE(pacer.ready(t)) << "change " << i << " at " << t << " held back; last frame at " << last;
    }
    if (pacer.ready(t)) {
      r.times.push_back(pacer.take(t));
      r.taken.push_back(t);
      r.content.push_back(static_cast<int>(i));
      last = t;
      dirty = false;
    } else {
      dirty = true;
    }
  }
  return r;
}

// Changes of content running at num/den per second, with a jitter in ticks
// from `jitter(i)`.
template <class Jitter>
std::vector<int64_t> content(uint32_t num, uint32_t den, int frames, int64_t start, Jitter jitter) {
  std::vector<int64_t> t;
  for (int i = 0; i < frames; ++i) {
    t.push_back(start + static_cast<int64_t>(int64_t{i} * den * kFreq / num) + jitter(i));
  }
  return t;
}

// Ticks from a frame's grid point to the k-th point after it at num/den per
// second: whole ticks, never drifting from the exact period.
// Rounded up: a time a fraction of a tick before its multiple of the period
// would be dropped by a gate counting whole periods (60 per second).
int64_t grid(uint32_t num, uint32_t den, int64_t k) { return (k * den * kFreq + num - 1) / num; }

TEST(FramePacer, SixtyHertzContentAtSixtyHertzCapKeepsEveryFrame) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int64_t> noise(-15'000, 15'000);  // +-1.5 ms
  struct Case {
    const char* name;
    uint32_t content_num, content_den;
    std::vector<int64_t> jitter;  // empty: random
  };
  const Case cases[] = {
      {"exact", 60, 1, {0}},
      {"alternating 1 ms early and late", 60, 1, {-10'000, 10'000}},
      {"one late wake-up in eight", 60, 1, {0, 0, 0, 0, 0, 0, 0, 90'000}},
      {"random jitter", 60, 1, {}},
      {"content slightly slower (59.94)", 60000, 1001, {0}},
      {"content slightly faster than the grid", 60006, 1000, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FramePacer pacer;
    pacer.set_rate(60, 1, kFreq);
    const int frames = 60 * 60;  // one minute
    auto jitter = [&](int i) -> int64_t {
      if (c.jitter.empty()) return noise(rng);
      return c.jitter[static_cast<size_t>(i) % c.jitter.size()];
    };
    Capture r = run_capture(pacer, content(c.content_num, c.content_den, frames, 123'456'789, jitter));
    // Every change reaches the recording, each in its own frame.
    ASSERT_EQ(r.taken.size(), static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) ASSERT_EQ(r.content[static_cast<size_t>(i)], i);
  }
}

TEST(FramePacer, SteadyContentIsTimedOnTheGrid) {
  // Frames that come once per period, however jittery their grabs, are timed
  // exactly one period apart, each within a period of its grab (the late
  // wake-up is the one frame more than half a period off).
  const struct {
    const char* name;
    uint32_t num, den;
    std::vector<int64_t> jitter;
  } cases[] = {
      {"exact", 60, 1, {0}},
      {"alternating 2 ms early and late", 60, 1, {-20'000, 20'000}},
      {"one late wake-up in eight", 60, 1, {0, 0, 0, 0, 0, 0, 0, 90'000}},
      {"two late wake-ups in a row", 60, 1, {0, 0, 0, 0, 0, 60'000, 60'000}},
      {"59.94 at 59.94", 60000, 1001, {0, 15'000, -15'000}},
      {"144 at 144", 144, 1, {0, 5'000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FramePacer pacer;
    pacer.set_rate(c.num, c.den, kFreq);
    const int frames = 600;
    Capture r = run_capture(pacer, content(c.num, c.den, frames, 987'654'321, [&](int i) {
      return c.jitter[static_cast<size_t>(i) % c.jitter.size()];
    }));
    ASSERT_EQ(r.times.size(), static_cast<size_t>(frames));
    for (size_t i = 0; i < r.times.size(); ++i) {
      ASSERT_EQ(r.times[i] - r.times[0], grid(c.num, c.den, static_cast<int64_t>(i))) << "frame " << i;
      ASSERT_LE(std::llabs(r.taken[i] - r.times[i]), pacer.period()) << "frame " << i;
    }
  }
}

TEST(FramePacer, TimesFollowContentWhosePhaseMoves) {
  // Content whose phase moves 5 ms (another program starts painting): after
  // a few frames the times move with it, and from then on they are one
  // period apart again and within the tolerance of the grabs.
  for (int64_t move : {int64_t{50'000}, int64_t{-50'000}}) {
    SCOPED_TRACE(move);
    FramePacer pacer;
    pacer.set_rate(60, 1, kFreq);
    std::vector<int64_t> changes = content(60, 1, 300, 1'000'000, [&](int i) { return i < 100 ? 0 : move; });
    Capture r = run_capture(pacer, changes);
    ASSERT_EQ(r.times.size(), changes.size());
    size_t moved = 0;
    for (size_t i = 101; i < r.times.size() && moved == 0; ++i) {
      if (std::llabs(r.times[i] - r.taken[i]) <= pacer.tolerance()) moved = i;
    }
    ASSERT_NE(moved, 0u);
    EXPECT_LE(moved, 104u);
    for (size_t i = 1; i < r.times.size(); ++i) {
      ASSERT_GT(r.times[i], r.times[i - 1]);
      ASSERT_LE(std::llabs(r.taken[i] - r.times[i]), pacer.period()) << "frame " << i;
    }
    for (size_t i = moved; i < r.times.size(); ++i) {
      ASSERT_LE(std::llabs(r.times[i] - r.times[moved] - grid(60, 1, static_cast<int64_t>(i - moved))), 1)
          << "frame " << i;  // whole ticks of an exact period
      ASSERT_LE(std::llabs(r.taken[i] - r.times[i]), pacer.tolerance()) << "frame " << i;
    }
  }
}

TEST(FramePacer, FasterContentIsHeldToTheRate) {
  struct Case {
    uint32_t content_hz;
    uint32_t cap_num, cap_den;
    size_t expect_min, expect_max;  // frames in 10 s
  };
  const Case cases[] = {
      {144, 60, 1, 599, 601},
      {144, 30, 1, 299, 301},
      {1000, 60000, 1001, 598, 600},
      {240, 144, 1, 1439, 1441},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.content_hz << " Hz content at " << c.cap_num << "/" << c.cap_den);
    FramePacer pacer;
    pacer.set_rate(c.cap_num, c.cap_den, kFreq);
    const int frames = static_cast<int>(c.content_hz) * 10;
    std::vector<int64_t> changes = content(c.content_hz, 1, frames, 5'000, [](int) { return int64_t{0}; });
    // Only changes that arrive while the pacer allows a frame are taken:
    // no wake-up at due(), so a held change is simply superseded.
    size_t taken = 0;
    for (int64_t t : changes) taken += pacer.offer(t) ? 1 : 0;
    EXPECT_GE(taken, c.expect_min);
    EXPECT_LE(taken, c.expect_max);
  }
}

TEST(FramePacer, FractionalRateDoesNotDriftOverAnHour) {
  // Frames at the exact 59.94 Hz instants (rounded up to a tick) must all
  // pass for an hour; a period rounded to whole ticks would drift past the
  // tolerance long before that.
  FramePacer pacer;
  pacer.set_rate(60000, 1001, kFreq);
  const int64_t frames = 60000LL * 3600 / 1001;
  for (int64_t i = 0; i < frames; ++i) {
    const int64_t t = (i * 1001 * kFreq + 59999) / 60000;
    ASSERT_TRUE(pacer.offer(t)) << "frame " << i;
    // And nothing between two of them.
    if (i > 0 && i % 997 == 0) {
      ASSERT_FALSE(pacer.ready(t + pacer.period() / 2));
    }
  }
}

TEST(FramePacer, AStallEarnsNoBurst) {
  FramePacer pacer;
  pacer.set_rate(60, 1, kFreq);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(pacer.offer(i * pacer.period()));
  // Still screen for two seconds, then content at 1 kHz: after the first
  // frame comes at most one catch-up frame, then the normal pace (which may
  // run up to half a period ahead of the grid once).
  const int64_t resume = 2 * kFreq + 12'345;
  std::vector<int64_t> taken, times;
  for (int64_t t = resume; t < resume + kFreq / 10; t += kFreq / 1000) {
    int64_t time = 0;
    if (pacer.offer(t, &time)) {
      taken.push_back(t);
      times.push_back(time);
    }
  }
  ASSERT_GE(taken.size(), 2u);
  EXPECT_LE(taken.size(), 8u);  // 100 ms at 60 per second, the catch-up, half a period ahead
  for (size_t i = 3; i < taken.size(); ++i) EXPECT_GE(taken[i] - taken[i - 1], pacer.period() - pacer.tolerance());
  // The first frame after the gap is timed at its grab, not at a point of
  // the old grid; the new grid runs from there.
  EXPECT_EQ(times[0], taken[0]);
  for (size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i] - times[0], grid(60, 1, static_cast<int64_t>(i)));
}

TEST(FramePacer, ResetStartsANewSchedule) {
  FramePacer pacer;
  pacer.set_rate(0, 0, kFreq);  // unknown rate: 60 per second
  EXPECT_EQ(pacer.period(), kFreq / 60);
  ASSERT_TRUE(pacer.offer(1'000'000));
  EXPECT_FALSE(pacer.ready(1'000'001));
  pacer.reset();
  EXPECT_TRUE(pacer.ready(1'000'001));
}
}  // namespace
