#pragma once
// Scoped environment variables and a sleep recorder for the client's tests.

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <quarrix/llm/sleep.hpp>
#include <quarrix/llm/stats.hpp>

namespace quarrix::llm::testing {

// Sets (or unsets, with nullopt) a variable and restores it on destruction.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value)
      setenv(name_.c_str(), value->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Records the pauses instead of taking them.
struct SleepRecorder {
  SleepFunction function() {
    return [this](double s) { delays.push_back(s); };
  }
  std::vector<double> delays;
};

// A clean session before and after a test.
struct FreshSession {
  FreshSession() { reset_llm_session(); }
  ~FreshSession() { reset_llm_session(); }
};

}  // namespace quarrix::llm::testing
