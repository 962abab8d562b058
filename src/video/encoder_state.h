#pragma once
// The encoder record: queues, sample pools, worker and counters.
#include <atomic>
#include <cstdint>

struct Encoder {
  // Counter value of the first video frame handed to the writer; 0 until
  // then. The audio mixer reads it as the stream start time.
  std::atomic<int64_t> first_video_time{0};
};
