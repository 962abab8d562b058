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
  // Frames in a row more than the tolerance after their points before the
  // grid moves to them: one late wake-up keeps the grid, content whose phase
  // moved later gets a grid of its own. Early frames never move it (they
  // are the ones the pacer held back; a grid moved to them would run fast).
  constexpr int kReanchorAfter = 3;
  bool anchor = !started_;
  if (started_) {
    frac_ += rem_;
    point_ += whole_ + frac_ / num_;
    frac_ %= num_;
    off_grid_ = t - point_ > tolerance_ ? off_grid_ + 1 : 0;
    // A frame more than a period late does not leave the grid behind it:
    // catching up later would let frames through faster than the rate.
    anchor = t - point_ > whole_ || off_grid_ >= kReanchorAfter;
  }
  if (anchor) {
    started_ = true;
    point_ = t;
    frac_ = 0;
    off_grid_ = 0;
  }
  last_ = t;
  return point_;
}
