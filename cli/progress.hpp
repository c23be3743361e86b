#pragma once
// The progress of quarrix-scan on standard error: a line rewritten in place on
// a terminal; elsewhere (a CI log, a file) a line at most every ten seconds.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace quarrix::cli {

enum class ProgressMode { kOff, kTerminal, kLog };

class Progress {
 public:
  // `detail` adds to each line what else is under way ("12 tool runs").
  explicit Progress(ProgressMode mode, std::function<std::string()> detail = {});
  // Terminal: "[index+1/total] name  elapsed". Log: "index/total entities, detail, elapsed".
  void update(std::size_t index, std::size_t total, const std::string& name);
  // Removes the terminal line.
  void clear();
  double elapsed_seconds() const;

  static constexpr std::chrono::seconds kLogInterval{10};

 private:
  void show_on_terminal(std::size_t index, std::size_t total, const std::string& name);

  ProgressMode mode_;
  std::function<std::string()> detail_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_logged_;
};

}  // namespace quarrix::cli
