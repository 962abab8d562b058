#pragma once
// Interleaved 16-bit sound waiting for whole encoder frames. Silence (a hole
// in the input, the lead in front of the track) is kept as a count, not as
// samples, so a gap of any length costs no memory, and taking frames from the
// front never moves what stays behind: every sample is copied in once and
// out once.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class PcmQueue {
 public:
  explicit PcmQueue(size_t channels = 2) : channels_(channels ? channels : 1) {}

  void reset(size_t channels);
  size_t channels() const { return channels_; }
  size_t frames() const { return frames_; }
  bool empty() const { return frames_ == 0; }

  void push(const int16_t* interleaved, size_t frames);
  void push_silence(size_t frames);
  void push_front_silence(size_t frames);
  // Moves the first `frames` frames (at most frames()) into `out`, which
  // holds frames × channels samples; silence comes out as zeros.
  size_t pop(int16_t* out, size_t frames);
  // Samples held in memory (for the tests of the memory bound).
  size_t stored_samples() const;

 private:
  struct Run {
    size_t silence = 0;            // frames of silence; 0 for a run of samples
    std::vector<int16_t> samples;  // interleaved
    size_t offset = 0;             // samples already taken from the front
    size_t frames(size_t channels) const { return silence ? silence : (samples.size() - offset) / channels; }
  };
  size_t channels_;
  size_t frames_ = 0;
  std::deque<Run> runs_;
};
