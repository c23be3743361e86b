#pragma once
// Ctrl-C, a termination request or a hang-up during a scan: the tools are
// stopped, nothing is written, and quarrix-scan exits with 128 + the signal's
// number after one line saying so. A scan cut short is a failure, never a
// catalog with some rows quietly unverified.

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace quarrix::cli {

// Thrown where the scan notices the signal.
struct Interrupted : std::exception {
  const char* what() const noexcept override { return "interrupted"; }
};

// Watches SIGINT, SIGTERM and SIGHUP from a thread of its own, the signals
// blocked everywhere else: construct it before any other thread starts.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // The signal that came, or 0.
  int signal() const;
  // Throws Interrupted when a signal came.
  void check() const;
  // Says once on standard error that the scan was interrupted; the exit status.
  int report();

  // How long the scan may take to notice before the process ends all the same.
  static constexpr auto kGrace = std::chrono::seconds(5);

 private:
  void watch();

  mutable std::mutex mutex_;
  std::condition_variable reported_cv_;
  int signal_ = 0;
  bool reported_ = false;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace quarrix::cli
