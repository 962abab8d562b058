#include "capture/frame_pacer.h"

#include <algorithm>

void FramePacer::set_rate(uint32_t rate_num, uint32_t rate_den, int64_t frequency) {
  if (rate_num == 0 || rate_den == 0) rate_num = 60, rate_den = 1;
  if (frequency <= 0) frequency = 10'000'000;
  // den * frequency stays far inside 64 bits for any 32-bit den and a
  // counter below a few GHz.
  const uint64_t span = uint64_t{rate_den} * static_cast<uint64_t>(frequency);
  num_ = rate_num;
  whole_ = static_cast<int64_t>(span / rate_num);
  rem_ = static_cast<int64_t>(span % rate_num);
  // An eighth of a period: well above the scheduling jitter of a loaded
  // machine at common rates, well below the gap to the next frame.
  tolerance_ = whole_ / 8;
  started_ = false;
}

int64_t FramePacer::next_point() const {
  int64_t frac = frac_ + rem_;
  int64_t p = point_ + whole_ + frac / num_;
  return frac % num_ != 0 ? p + 1 : p;
}

int64_t FramePacer::due() const {
  if (!started_) return INT64_MIN;
  const int64_t grid = next_point();
  const int64_t after_last = std::max(last_ + whole_ - tolerance_, grid - whole_ / 2);
  return std::min(grid - tolerance_, after_last);
}

int64_t FramePacer::take(int64_t t) {
  // Frames in a row more than the tolerance off their times before the
  // times move: one late wake-up changes nothing, content whose phase moved
  // gets times of its own. Content that now comes later moves the grid
  // itself; content that comes earlier only moves the times, by at most
  // half a period: a grid moved earlier would let frames through faster
  // than the rate.
  constexpr int kMoveAfter = 3;
  bool anchor = !started_;
  // A frame taken right when it became due may have waited for the pacer:
  // its time says nothing about the content's phase.
  const bool waited = started_ && t - due() < tolerance_ / 2;
  if (started_) {
    frac_ += rem_;
    point_ += whole_ + frac_ / num_;
    frac_ %= num_;
    const int64_t off = t - (point_ + shift_);
    late_run_ = off > tolerance_ ? late_run_ + 1 : 0;
    early_run_ = off < -tolerance_ && !waited ? early_run_ + 1 : 0;
    // A frame more than a period late does not leave the grid behind it:
    // catching up later would let frames through faster than the rate.
    anchor = t - point_ > whole_ || late_run_ >= kMoveAfter;
    if (!anchor && early_run_ >= kMoveAfter) {
      shift_ = std::max(t - point_, -whole_ / 2);
      early_run_ = 0;
    }
  }
  if (anchor) {
    started_ = true;
    point_ = t;
    frac_ = 0;
    shift_ = 0;
    late_run_ = early_run_ = 0;
  }
  last_ = t;
  // The grid point rounded up to a whole tick, so a time is never a
  // fraction of a tick before its multiple of the period: a gate counting
  // whole periods from the first frame takes every frame of a steady run.
  return point_ + (frac_ != 0 ? 1 : 0) + shift_;
}
