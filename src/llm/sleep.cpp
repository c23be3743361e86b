#include "quarrix/llm/sleep.hpp"

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <utility>

namespace quarrix::llm {

namespace {

std::mutex& hook_mutex() {
  static std::mutex m;
  return m;
}

SleepFunction& installed() {
  static SleepFunction fn = real_sleep;
  return fn;
}

}  // namespace

void real_sleep(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void llm_sleep(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return;
  SleepFunction fn;
  {
    std::lock_guard lock(hook_mutex());
    fn = installed();
  }
  fn(seconds);
}

SleepFunction set_sleep_function(SleepFunction fn) {
  std::lock_guard lock(hook_mutex());
  SleepFunction previous = std::move(installed());
  installed() = fn ? std::move(fn) : SleepFunction(real_sleep);
  return previous;
}

}  // namespace quarrix::llm
