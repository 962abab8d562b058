#pragma once
// The recording's stop-trace path. Recording start (main thread) replaces
// it while trace events from any thread read it, so every access takes a
// short lock and readers get their own copy.
#include <mutex>
#include <string>

class StopTracePath {
 public:
  StopTracePath() = default;
  StopTracePath(const StopTracePath&) = delete;
  StopTracePath& operator=(const StopTracePath&) = delete;

  StopTracePath& operator=(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
    return *this;
  }
  void clear() { *this = std::string(); }
  std::string get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
  }
  bool empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_.empty();
  }

 private:
  mutable std::mutex mutex_;
  std::string path_;
};
