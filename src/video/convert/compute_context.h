#pragma once
// The CPU stands in for the graphics device: the conversion programs run as
// C++ kernels on the calling thread plus a few helper threads. One context
// runs one job at a time; a job is split into row bands.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

inline constexpr int kMaxComputeThreads = 16;

class ComputeContext {
 public:
  // threads counts the caller: 1 means everything runs on the calling thread.
  // 0 picks a small number from the machine's cores (at most 4).
  explicit ComputeContext(int threads = 0);
  ~ComputeContext();
  ComputeContext(const ComputeContext&) = delete;
  ComputeContext& operator=(const ComputeContext&) = delete;

  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  // Calls fn(ctx, band, begin, end) over [0, count) split into at most
  // threads() contiguous bands (band = 0, 1, ...), on the caller and the
  // helpers; returns when all are done. No allocation. Bands get at least
  // min_band items.
  using BandFn = void (*)(void* ctx, int band, int begin, int end);
  void run_bands(int count, int min_band, BandFn fn, void* ctx);

  template <class F>
  void for_bands(int count, int min_band, F&& f) {
    run_bands(count, min_band, [](void* c, int band, int b, int e) { (*static_cast<F*>(c))(band, b, e); }, &f);
  }

 private:
  void worker_main(int index);

  std::vector<std::thread> workers_;
  std::mutex run_lock_;  // one job at a time
  std::mutex m_;
  std::condition_variable start_cv_, done_cv_;
  uint64_t generation_ = 0;
  int pending_ = 0;
  bool quit_ = false;
  // Current job.
  BandFn fn_ = nullptr;
  void* ctx_ = nullptr;
  int count_ = 0;
  int bands_ = 0;
};

// The process-wide context the recording pipeline uses (created on first use).
ComputeContext& compute_context();
