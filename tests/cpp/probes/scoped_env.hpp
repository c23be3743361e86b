#pragma once
// Test helpers: an environment variable set for one scope, and executable
// stand-ins for the external tools.

#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "support/temp_repo.hpp"

namespace quarrix::testing {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// While alive, tool runs are not sandboxed (no bwrap on PATH, which is `dir`
// alone), so that a stand-in tool may log its calls beside itself.
struct NoSandbox {
  explicit NoSandbox(const TempRepo& dir) : path("PATH", dir.path()) {}
  ScopedEnv path;
};

// Writes an executable script `name` into `dir`.
inline void write_tool(const TempRepo& dir, const std::string& name, const std::string& script) {
  dir.write(name, "#!/bin/sh\n" + script);
  ::chmod(dir.at(name).c_str(), 0755);
}

}  // namespace quarrix::testing
