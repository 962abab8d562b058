#pragma once
// Waiting for a condition rather than for a fixed time: a test goes on as
// soon as what it waits for has happened, and a slow machine only makes it
// wait longer, never fail or pass by chance.
#include <chrono>
#include <thread>

// Looks at `done` every `poll` until it holds or `limit` has passed; true
// when it held.
template <class Pred>
bool wait_until(Pred&& done, std::chrono::milliseconds limit = std::chrono::seconds(5),
                std::chrono::milliseconds poll = std::chrono::milliseconds(1)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    std::this_thread::sleep_for(poll);
  }
  return true;
}
