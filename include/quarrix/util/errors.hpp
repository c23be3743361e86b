#pragma once
// Error kinds that the Python binding raises as the matching built-in
// exception (TypeError, KeyError).

#include <stdexcept>

namespace quarrix {

struct TypeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct KeyError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace quarrix
