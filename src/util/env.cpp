#include "quarrix/util/env.hpp"

#include <cstdlib>

namespace quarrix::util {

std::optional<std::string> getenv_str(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

}  // namespace quarrix::util
