#include "video/convert/compute_context.h"

#include <algorithm>
#include <utility>

#include "platform/thread.h"

ComputeContext::ComputeContext(int threads) {
  if (threads <= 0) {
    unsigned hw = std::thread::hardware_concurrency();
    threads = static_cast<int>(std::clamp(hw, 1u, 4u));
  }
  threads = std::min(threads, kMaxComputeThreads);
  workers_.reserve(static_cast<size_t>(threads - 1));
  // A worker the system refuses is left out: the bands are then cut for
  // fewer threads, and the caller's own thread always works.
  for (int i = 1; i < threads; ++i) {
    std::thread worker;
    if (!thread_start(&worker, [this, i] { worker_main(i); })) break;
    workers_.push_back(std::move(worker));
  }
}

ComputeContext::~ComputeContext() {
  {
    std::lock_guard<std::mutex> g(m_);
    quit_ = true;
  }
  start_cv_.notify_all();
  for (auto& t : workers_) t.join();
}

static void band_range(int count, int bands, int index, int& begin, int& end) {
  begin = static_cast<int>(static_cast<int64_t>(count) * index / bands);
  end = static_cast<int>(static_cast<int64_t>(count) * (index + 1) / bands);
}

void ComputeContext::run_bands(int count, int min_band, BandFn fn, void* ctx) {
  if (count <= 0) return;
  min_band = std::max(min_band, 1);
  int bands = std::min(threads(), std::max(1, count / min_band));
  if (bands == 1) {
    fn(ctx, 0, 0, count);
    return;
  }
  std::lock_guard<std::mutex> job(run_lock_);
  {
    std::lock_guard<std::mutex> g(m_);
    fn_ = fn;
    ctx_ = ctx;
    count_ = count;
    bands_ = bands;
    pending_ = bands - 1;
    ++generation_;
  }
  start_cv_.notify_all();
  int begin, end;
  band_range(count, bands, 0, begin, end);
  fn(ctx, 0, begin, end);
  std::unique_lock<std::mutex> lk(m_);
  done_cv_.wait(lk, [this] { return pending_ == 0; });
}

void ComputeContext::worker_main(int index) {
  uint64_t seen = 0;
  std::unique_lock<std::mutex> lk(m_);
  for (;;) {
    start_cv_.wait(lk, [&] { return quit_ || generation_ != seen; });
    if (quit_) return;
    seen = generation_;
    if (index >= bands_) continue;
    BandFn fn = fn_;
    void* ctx = ctx_;
    int begin, end;
    band_range(count_, bands_, index, begin, end);
    lk.unlock();
    fn(ctx, index, begin, end);
    lk.lock();
    if (--pending_ == 0) done_cv_.notify_one();
  }
}

ComputeContext& compute_context() {
  static ComputeContext context;
  return context;
}
