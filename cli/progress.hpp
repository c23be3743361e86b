#pragma once
// The progress line of quarrix-scan on a terminal's standard error.

#include <chrono>
#include <cstddef>
#include <string>

namespace quarrix::cli {

class Progress {
 public:
  // Shows nothing unless `enabled` (the caller checks for a terminal).
  explicit Progress(bool enabled);
  // "[index+1/total] name  elapsed", rewritten in place.
  void update(std::size_t index, std::size_t total, const std::string& name);
  // Removes the line.
  void clear();
  double elapsed_seconds() const;

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace quarrix::cli
