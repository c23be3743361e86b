#pragma once
// The core's failures: one closed set of kinds, each error a kind and its
// message. The Python binding raises each kind as one built-in exception
// (python/src/common/errors.cpp) and the command line reports them all as a
// failed scan; each mapping is made in one place.

#include <stdexcept>
#include <string>

namespace quarrix {

enum class ErrorKind {
  kType,             // a value of the wrong type (Python: TypeError)
  kKey,              // a required key is missing (KeyError)
  kValue,            // a value outside what the operation takes (ValueError)
  kIndex,            // an empty sequence where one item is needed (IndexError)
  kMalformedEntry,   // an IP entry, role map or bucket map of the wrong shape (TypeError)
  kUnknownUnit,      // a unit not in the resolver's map (KeyError)
  kDependencyCycle,  // the units a unit needs form a cycle (RecursionError)
  kRegex,            // a pattern that does not compile: a programming error (RuntimeError)
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  ErrorKind kind() const noexcept { return kind_; }

 private:
  ErrorKind kind_;
};

// An error of one kind, for throw sites and for catching that kind alone.
template <ErrorKind K>
struct ErrorOf : Error {
  explicit ErrorOf(const std::string& message) : Error(K, message) {}
};

using TypeError = ErrorOf<ErrorKind::kType>;
using KeyError = ErrorOf<ErrorKind::kKey>;
using ValueError = ErrorOf<ErrorKind::kValue>;
using IndexError = ErrorOf<ErrorKind::kIndex>;

}  // namespace quarrix
