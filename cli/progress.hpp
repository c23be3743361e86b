#pragma once
// The progress of quarrix-scan on standard error: a line rewritten in place on
// a terminal; elsewhere (a CI log, a file) a line at most every ten seconds.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quarrix::cli {

enum class ProgressMode { kOff, kTerminal, kLog };

class Progress {
 public:
  // `detail` adds to each line what else is under way ("12 tool runs"); in
  // log mode it is called from a thread of the progress's own.
  explicit Progress(ProgressMode mode, std::function<std::string()> detail = {});
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  // Terminal: "[index+1/total] name  elapsed". Log: "index/total entities, detail, elapsed".
  void update(std::size_t index, std::size_t total, const std::string& name);
  // What is under way before the entities are gone through ("running the tool
  // checks ahead"), shown in place of their count; "" when it is over.
  void stage(std::string what);
  // Removes the terminal line; in log mode, no line comes after it.
  void clear();
  double elapsed_seconds() const;

  static constexpr std::chrono::seconds kLogInterval{10};

 private:
  void show_on_terminal(std::size_t index, std::size_t total, const std::string& name);
  // Log mode: a line every kLogInterval, however long one unit takes.
  void log_every_interval();

  ProgressMode mode_;
  std::function<std::string()> detail_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::size_t done_ = 0, total_ = 0;
  std::string stage_;
  bool stopped_ = false;
  std::thread logger_;
};

}  // namespace quarrix::cli
