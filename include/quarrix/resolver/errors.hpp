#pragma once
// How a resolver's compilation_order query fails.

#include <stdexcept>

namespace quarrix::resolver {

// The unit is not in the entity map (Python: KeyError).
struct UnknownUnitError : std::out_of_range {
  using std::out_of_range::out_of_range;
};
// The dependencies of the unit form a cycle (Python: RecursionError).
struct DependencyCycleError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace quarrix::resolver
