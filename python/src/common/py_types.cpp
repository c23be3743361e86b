#include "common/py_types.hpp"

#include <nanobind/nanobind.h>

namespace quarrix::py {

std::string py_literal(long long value) { return std::to_string(value); }

std::string py_literal(double value) { return nanobind::repr(nanobind::float_(value)).c_str(); }

}  // namespace quarrix::py
