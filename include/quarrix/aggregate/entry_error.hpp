#pragma once
// The error for IP entries, role maps and bucket maps of the wrong shape (a
// missing "name", a list where a map belongs, a non-string path or tag).

#include <stdexcept>

namespace quarrix::aggregate {

struct MalformedEntryError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace quarrix::aggregate
