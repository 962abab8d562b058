#pragma once
// At most one frame per refresh period, on a schedule rather than counted
// from whenever the previous frame happened to be taken. Counting from the
// last grab adds the grab's own duration and the wake-up delay to every
// period, so a source running at exactly the refresh rate slowly falls
// behind and loses a frame every few periods.
//
// The schedule is a grid of period-spaced points starting at the first
// frame; each frame taken uses up one point. A frame may be taken
//  - a little (the tolerance) before its grid point, or
//  - one period minus the tolerance after the previous frame, as long as it
//    is not more than half a period ahead of the grid,
// so content that changes once per period with some jitter is taken every
// time, while over any longer stretch no more frames pass than the rate
// allows. A source that was late does not earn a burst: the grid never lags
// more than one period behind the frames.
//
// Each frame taken is given the grid point it was taken for as its time,
// not the moment of the grab: a steady capture then has intervals of exactly
// one period, however late the thread woke. The times follow the content:
// a frame more than a period late (after a still screen or a stall) starts
// the grid anew at its own time, and a few frames in a row that are all
// more than the tolerance off their times (content whose phase moved) move
// the times to them, so a frame's time stays close to its grab.
//
// Times are counter ticks; the period is kept exactly (whole ticks plus a
// fraction) so the grid does not drift against a fractional rate such as
// 60000/1001.
#include <cstdint>

class FramePacer {
 public:
  FramePacer() { set_rate(60, 1, 10'000'000); }
  // rate_num / rate_den frames per second at `frequency` ticks per second;
  // restarts the schedule. A zero part means 60 frames per second.
  void set_rate(uint32_t rate_num, uint32_t rate_den, int64_t frequency);
  // The next frame starts a new schedule.
  void reset() { started_ = false; }

  // Whether a frame at time `t` may be taken now.
  bool ready(int64_t t) const { return !started_ || t >= due(); }
  // Earliest time at which the next frame may be taken (any time before the
  // first frame).
  int64_t due() const;
  // Records a frame taken at `t`; returns its time on the grid.
  int64_t take(int64_t t);
  // ready() and, when it is, take(); `time` (may be null) gets the frame's time.
  bool offer(int64_t t, int64_t* time = nullptr) {
    if (!ready(t)) return false;
    const int64_t slot = take(t);
    if (time) *time = slot;
    return true;
  }

  int64_t period() const { return whole_; }  // whole ticks
  int64_t tolerance() const { return tolerance_; }

 private:
  // Next grid point, rounded up to a whole tick.
  int64_t next_point() const;

  int64_t whole_ = 0;      // period: whole_ + rem_ / num_ ticks
  int64_t rem_ = 0;
  int64_t num_ = 1;
  int64_t tolerance_ = 0;
  bool started_ = false;
  int64_t last_ = 0;       // time of the last frame taken
  int64_t point_ = 0;      // grid point of the last frame: point_ + frac_ / num_
  int64_t frac_ = 0;
  int64_t shift_ = 0;      // frame times: grid points plus this (-half a period to 0)
  int late_run_ = 0;       // frames in a row taken more than the tolerance after their times
  int early_run_ = 0;      // ... and before them
};
