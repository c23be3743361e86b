#include "interrupt.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "quarrix/probes/tool_run.hpp"
#include "say.hpp"

namespace quarrix::cli {

namespace {

// SIGUSR1 only wakes the watcher when the program ends normally.
sigset_t watched_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&set, sig);
  return set;
}

void say_interrupted(int sig) { say(std::string("interrupted by SIG") + sigabbrev_np(sig) + "; no output written"); }

}  // namespace

InterruptWatch::InterruptWatch() {
  const sigset_t set = watched_signals();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);  // inherited by every thread started after this
  thread_ = std::thread([this] { watch(); });
}

InterruptWatch::~InterruptWatch() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  reported_cv_.notify_all();
  ::pthread_kill(thread_.native_handle(), SIGUSR1);
  thread_.join();
}

void InterruptWatch::watch() {
  const sigset_t set = watched_signals();
  int sig = 0;
  while (::sigwait(&set, &sig) == 0) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (closing_) return;
    if (sig == SIGUSR1) continue;
    signal_ = sig;
    break;
  }
  probes::stop_tools();
  // The scan notices at its next unit; one that does not within the grace
  // period (a long resolver pass) is ended here, before it can write.
  std::unique_lock<std::mutex> lock(mutex_);
  if (reported_cv_.wait_for(lock, kGrace, [this] { return reported_ || closing_; })) return;
  reported_ = true;
  say_interrupted(signal_);
  ::_exit(128 + signal_);
}

int InterruptWatch::signal() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return signal_;
}

void InterruptWatch::check() const {
  if (signal() != 0) throw Interrupted();
}

int InterruptWatch::report() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!reported_) say_interrupted(signal_);
  reported_ = true;
  reported_cv_.notify_all();
  return 128 + signal_;
}

}  // namespace quarrix::cli
