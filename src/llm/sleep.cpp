#include "quarrix/llm/sleep.hpp"

#include <chrono>
#include <cmath>
#include <thread>

namespace quarrix::llm {

void real_sleep(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void pause_for(const SleepFunction& sleep, double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return;
  sleep(seconds);
}

}  // namespace quarrix::llm
