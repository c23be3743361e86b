#pragma once
// Environment variables, read at each use (never cached).

#include <optional>
#include <string>

namespace quarrix::util {

// The variable's value, or nullopt when it is unset.
std::optional<std::string> getenv_str(const char* name);

}  // namespace quarrix::util
