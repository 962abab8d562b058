#include "video/encode/pcm_queue.h"

#include <algorithm>
#include <cstring>

void PcmQueue::reset(size_t channels) {
  channels_ = channels ? channels : 1;
  frames_ = 0;
  runs_.clear();
}

void PcmQueue::push(const int16_t* interleaved, size_t frames) {
  if (frames == 0) return;
  if (runs_.empty() || runs_.back().silence) runs_.emplace_back();
  std::vector<int16_t>& s = runs_.back().samples;
  s.insert(s.end(), interleaved, interleaved + frames * channels_);
  frames_ += frames;
}

void PcmQueue::push_silence(size_t frames) {
  if (frames == 0) return;
  if (runs_.empty() || !runs_.back().silence) runs_.emplace_back();
  runs_.back().silence += frames;
  frames_ += frames;
}

void PcmQueue::push_front_silence(size_t frames) {
  if (frames == 0) return;
  if (runs_.empty() || !runs_.front().silence) runs_.emplace_front();
  runs_.front().silence += frames;
  frames_ += frames;
}

size_t PcmQueue::pop(int16_t* out, size_t frames) {
  frames = std::min(frames, frames_);
  size_t done = 0;
  while (done < frames) {
    Run& r = runs_.front();
    const size_t take = std::min(frames - done, r.frames(channels_));
    int16_t* dst = out + done * channels_;
    if (r.silence) {
      std::memset(dst, 0, take * channels_ * sizeof(int16_t));
      r.silence -= take;
      if (r.silence == 0) runs_.pop_front();
    } else {
      std::memcpy(dst, r.samples.data() + r.offset, take * channels_ * sizeof(int16_t));
      r.offset += take * channels_;
      if (r.offset == r.samples.size()) {
        runs_.pop_front();
      } else if (r.offset >= r.samples.size() / 2) {
        // Sound keeps arriving at the back of this run while the front is
        // taken: drop the taken part once it is the larger half. That keeps
        // the run bounded, and never moves more samples than were taken.
        r.samples.erase(r.samples.begin(), r.samples.begin() + static_cast<std::ptrdiff_t>(r.offset));
        r.offset = 0;
      }
    }
    done += take;
  }
  frames_ -= frames;
  return frames;
}

size_t PcmQueue::stored_samples() const {
  size_t n = 0;
  for (const Run& r : runs_) n += r.samples.size();
  return n;
}
